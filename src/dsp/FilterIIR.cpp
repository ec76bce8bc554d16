#include "dsp/FilterIIR.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "dsp/Kernels.h"

namespace {

const double pi = 3.141592653589793;
const double sqrt2 = 1.4142135623730951;

// Longest coefficient set of any design (band-pass of order 3).
const uint32_t maxCoeffs = 7;

// Analog frequency in Hz whose bilinear image lands exactly on f.
double Prewarp(double f, double sample_rate) {
    const double T = 1.0 / sample_rate;
    return std::tan(pi * f * T) / (T * pi);
}

// Bilinear constant that maps the prewarped frequency fa onto the prototype's 1 rad/s.
double BilinearConstant(double fa, double sample_rate) {
    return 2.0 / ((fa / (sample_rate / 2.0)) * pi);
}

// The three terms of the second-order section with damping factor k:
// (C^2 + kC + 1) + (2 - 2C^2) z^-1 + (C^2 - kC + 1) z^-2.
struct Quadratic {
    double plus, even, minus;
};

Quadratic SecondOrderSection(double C, double k) {
    const double C2 = C * C;
    return {C2 + k * C + 1.0, 2.0 - 2.0 * C2, C2 - k * C + 1.0};
}

// Butterworth denominator of the low-pass/high-pass family in z^-1, before normalisation.
// Orders 3 and 4 are written out term by term so that every sum keeps its own grouping.
void ButterworthDenominator(unsigned int order, double C, double* den) {
    switch (order) {
        case 1:
            den[0] = 1.0 + C;
            den[1] = 1.0 - C;
            break;
        case 2: {
            const Quadratic s = SecondOrderSection(C, sqrt2);
            den[0] = s.plus;
            den[1] = s.even;
            den[2] = s.minus;
            break;
        }
        case 3: {
            const Quadratic s = SecondOrderSection(C, 1.0);
            den[0] = (1.0 + C) * s.plus;
            den[1] = (1.0 - C) * s.plus + (1.0 + C) * s.even;
            den[2] = (1.0 - C) * s.even + (1.0 + C) * s.minus;
            den[3] = (1.0 - C) * s.minus;
            break;
        }
        default: {
            const Quadratic s1 = SecondOrderSection(C, 1.8477590650225735);
            const Quadratic s2 = SecondOrderSection(C, 0.7653668647301795);
            const double E = s1.even;
            den[0] = s1.plus * s2.plus;
            den[1] = E * s2.plus + s1.plus * E;
            den[2] = s1.minus * s2.plus + s1.plus * s2.minus + E * E;
            den[3] = E * s2.minus + s1.minus * E;
            den[4] = s1.minus * s2.minus;
            break;
        }
    }
}

// Binomial coefficients of (1 + z^-1)^order, the low-pass numerator; the high-pass numerator
// is C^order times (1 - z^-1)^order.
const double binomial[5][5] = {
    {1.0}, {1.0, 1.0}, {1.0, 2.0, 1.0}, {1.0, 3.0, 3.0, 1.0}, {1.0, 4.0, 6.0, 4.0, 1.0}};

void CheckOrder(unsigned int order, unsigned int highest, const char* what) {
    if (order < 1 || order > highest) {
        throw std::invalid_argument(std::string(what) + ": unsupported order " +
                                    std::to_string(order));
    }
}

// Divides both polynomials by the leading denominator term so that a[0] = 1.
void StoreNormalised(const double* num, const double* den, uint32_t n, double* a, double* b) {
    const double D = den[0];
    a[0] = 1.0;
    b[0] = num[0] / D;
    for (uint32_t i = 1; i < n; i++) {
        b[i] = num[i] / D;
        a[i] = den[i] / D;
    }
}

}  // namespace

void FilterIIR::Allocate(unsigned int filter_order, uint32_t coeff_count) {
    order = static_cast<uint32_t>(filter_order);
    num_coeffs = coeff_count;
    a.reset(new double[num_coeffs]());
    b.reset(new double[num_coeffs]());
}

void FilterIIR::Apply(const double* a, const double* b, uint32_t num_coeffs, const double* x,
                      double* y, uint32_t length) {
    for (uint32_t n = 0; n < num_coeffs && n < length; n++) {
        y[n] = 0.0;
    }
    for (uint32_t n = num_coeffs; n < length; n++) {
        double acc = b[0] * x[n];
        for (uint32_t k = 1; k < num_coeffs; k++) {
            acc = (b[k] * x[n - k] - a[k] * y[n - k]) + acc;
        }
        y[n] = acc;
    }
}

Signal* FilterIIR::Run(Signal* input) {
    const uint32_t length = input->GetLength();
    std::unique_ptr<Signal> output(new Signal(*input));
    // In place through the kernel: the same samples as Apply, with its fixed-point shortcut.
    double* y = output->GetSamples();
    kernels::FilterChannels(a.get(), b.get(), num_coeffs, &y, 1, length);
    return output.release();
}

LP_FilterIIR::LP_FilterIIR(unsigned int order, double sample_rate, double cutoff) {
    CheckOrder(order, 4, "LP_FilterIIR");
    Allocate(order, order + 1);
    const double C = BilinearConstant(Prewarp(cutoff, sample_rate), sample_rate);
    double den[maxCoeffs] = {};
    ButterworthDenominator(order, C, den);
    StoreNormalised(binomial[order], den, num_coeffs, a.get(), b.get());
}

HP_FilterIIR::HP_FilterIIR(unsigned int order, double sample_rate, double cutoff) {
    CheckOrder(order, 4, "HP_FilterIIR");
    Allocate(order, order + 1);
    const double C = BilinearConstant(Prewarp(cutoff, sample_rate), sample_rate);
    double den[maxCoeffs] = {};
    ButterworthDenominator(order, C, den);
    double power = C;
    for (unsigned int i = 1; i < order; i++) {
        power = power * C;
    }
    double num[maxCoeffs] = {};
    for (uint32_t i = 0; i < num_coeffs; i++) {
        const double sign = (i % 2 == 0) ? 1.0 : -1.0;
        num[i] = (sign * binomial[order][i]) * power;
    }
    StoreNormalised(num, den, num_coeffs, a.get(), b.get());
}

BP_FilterIIR::BP_FilterIIR(unsigned int order, double sample_rate, double low_cutoff,
                           double high_cutoff) {
    CheckOrder(order, 3, "BP_FilterIIR");
    Allocate(order, 2 * order + 1);
    const double fa1 = Prewarp(low_cutoff, sample_rate);
    const double fa2 = Prewarp(high_cutoff, sample_rate);
    if (fa1 == fa2) {
        // An empty band passes nothing: a zero numerator over a trivial denominator (the
        // general design would divide by the band's zero width).
        a[0] = 1.0;
        return;
    }
    const double f0 = std::sqrt(fa1 * fa2);
    const double Q = f0 / (fa2 - fa1);
    const double C = BilinearConstant(f0, sample_rate);
    const double C2 = C * C;
    const double C3 = C2 * C;
    const double C4 = C3 * C;

    // Second-order band section, from the first-order prototype: (C/Q)(1 - z^-2) over s[].
    const double cq = C / Q;
    const double s[3] = {C2 + cq + 1.0, 2.0 - 2.0 * C2, C2 - cq + 1.0};

    // Fourth-order band section, from the second-order prototype with factor k:
    // (C^2/Q^2)(1 - z^-2)^2 over d[].
    const double k = (order == 2) ? sqrt2 : 1.0;
    const double alpha = k / Q;
    const double beta = 2.0 + 1.0 / (Q * Q);
    const double d[5] = {C4 + alpha * C3 + beta * C2 + alpha * C + 1.0,
                         4.0 + 2.0 * alpha * C * (1.0 - C2) - 4.0 * C4,
                         6.0 * C4 - 2.0 * beta * C2 + 6.0,
                         4.0 + 2.0 * alpha * C * (C2 - 1.0) - 4.0 * C4,
                         C4 - alpha * C3 + beta * C2 - alpha * C + 1.0};

    double num[maxCoeffs] = {};
    double den[maxCoeffs] = {};
    if (order == 1) {
        num[0] = cq;
        num[2] = -cq;
        std::copy(s, s + 3, den);
    } else if (order == 2) {
        const double gain = C2 / (Q * Q);
        num[0] = gain;
        num[2] = -2.0 * gain;
        num[4] = gain;
        std::copy(d, d + 5, den);
    } else {
        const double gain = C3 / (Q * Q * Q);
        const double pattern[4] = {1.0, -3.0, 3.0, -1.0};
        for (int i = 0; i < 4; i++) {
            num[2 * i] = pattern[i] * gain;
        }
        // Product of the two sections, the second-order section's terms taken first.
        for (int m = 0; m < 7; m++) {
            const int first = std::max(0, m - 4);
            const int last = std::min(2, m);
            double sum = s[first] * d[m - first];
            for (int i = first + 1; i <= last; i++) {
                sum = sum + s[i] * d[m - i];
            }
            den[m] = sum;
        }
    }
    StoreNormalised(num, den, num_coeffs, a.get(), b.get());
}
