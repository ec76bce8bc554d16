#include "live/WholeFactor.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <stdexcept>

namespace live {

namespace {

using Complex = std::complex<double>;

const double kRate = 20000;    // the stream's
const double kCutoff = 10000;  // -6 dB, halfway between 9 and 11 kHz
const unsigned kTapsPerFactor = 80;
const double kKaiserBeta = 11.5;                // about -114 dB beyond the transition band
const size_t kTransformSize = size_t(1) << 14;  // against the cepstrum's aliasing: ample

// In place, radix 2; inverse without the 1/n. twiddle: the n / 2 roots of unity.
void Transform(std::vector<Complex>& x, const std::vector<Complex>& twiddle, bool inverse) {
    const size_t n = x.size();
    for (size_t i = 1, j = 0; i < n; i++) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(x[i], x[j]);
        }
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const size_t stride = n / len;
        for (size_t i = 0; i < n; i += len) {
            for (size_t k = 0; k < len / 2; k++) {
                const Complex w = twiddle[k * stride], c = x[i + k + len / 2];
                const double wi = inverse ? -w.imag() : w.imag();
                // Written out: std::complex's product checks for infinities on every call.
                const Complex a = x[i + k];
                const Complex b(c.real() * w.real() - c.imag() * wi,
                                c.real() * wi + c.imag() * w.real());
                x[i + k] = a + b;
                x[i + k + len / 2] = a - b;
            }
        }
    }
}

// The modified Bessel function of the first kind, order 0 (its series).
double BesselI0(double x) {
    double sum = 1, term = 1;
    for (int k = 1; k < 200 && term > 1e-17 * sum; k++) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

std::vector<double> LinearPhaseLowPass(unsigned factor) {
    const size_t n = kTapsPerFactor * factor;
    const double fc = kCutoff / (kRate * factor), middle = (double(n) - 1) / 2;
    std::vector<double> h(n);
    double sum = 0;
    for (size_t i = 0; i < n; i++) {
        const double t = double(i) - middle, r = t / middle;
        const double sinc = t == 0 ? 1 : std::sin(2 * M_PI * fc * t) / (2 * M_PI * fc * t);
        h[i] = 2 * fc * sinc * BesselI0(kKaiserBeta * std::sqrt(1 - r * r)) / BesselI0(kKaiserBeta);
        sum += h[i];
    }
    for (double& v : h) {
        v /= sum;
    }
    return h;
}

}  // namespace

// The minimum-phase filter with the magnitude of h: the real cepstrum of |H| folded onto its
// causal half, exponentiated back.
std::vector<double> MinimumPhaseLowPass(unsigned factor) {
    const std::vector<double> h = LinearPhaseLowPass(factor);
    const size_t m = kTransformSize;
    std::vector<Complex> twiddle(m / 2), x(m, 0.0);
    for (size_t k = 0; k < m / 2; k++) {
        twiddle[k] = std::polar(1.0, -2 * M_PI * double(k) / double(m));
    }
    std::copy(h.begin(), h.end(), x.begin());
    Transform(x, twiddle, false);
    for (Complex& v : x) {
        v = std::log(std::max(std::abs(v), 1e-15));
    }
    Transform(x, twiddle, true);
    for (size_t i = 0; i < m; i++) {
        const double c = x[i].real() / double(m);
        x[i] = i == 0 || i == m / 2 ? c : i < m / 2 ? 2 * c : 0;
    }
    Transform(x, twiddle, false);
    for (Complex& v : x) {
        v = std::exp(v);
    }
    Transform(x, twiddle, true);
    std::vector<double> out(h.size());
    for (size_t i = 0; i < out.size(); i++) {
        out[i] = x[i].real() / double(m);
    }
    return out;
}

WholeFactorConverter::WholeFactorConverter(unsigned f, bool u) : factor(f), up(u) {
    if (factor < 2) {
        throw std::invalid_argument("a whole-factor conversion needs a factor of 2 or more");
    }
    const std::vector<double> h = MinimumPhaseLowPass(factor);
    const size_t peak = static_cast<size_t>(
        std::max_element(h.begin(), h.end(),
                         [](double a, double b) { return std::fabs(a) < std::fabs(b); }) -
        h.begin());
    if (up) {
        const size_t perPhase = h.size() / factor;
        taps.resize(h.size());
        for (size_t p = 0; p < factor; p++) {
            for (size_t k = 0; k < perPhase; k++) {
                taps[p * perPhase + k] = factor * h[k * factor + p];
            }
        }
        history.assign(2 * perPhase, 0.0);
        delay = peak;
    } else {
        taps = h;
        history.assign(2 * h.size(), 0.0);
        delay = static_cast<size_t>(std::lround(double(peak) / factor));
    }
    skip = delay;
}

size_t WholeFactorConverter::Process(const float* in, size_t count, float* out, size_t capacity) {
    const size_t held = history.size() / 2;
    const size_t outputs = up ? factor : 1;
    size_t written = 0;
    for (size_t i = 0; i < count; i++) {
        history[at] = history[at + held] = in[i];
        // The latest input at newest, the one before at newest - 1, ...
        const double* newest = &history[at + held];
        at = at + 1 == held ? 0 : at + 1;
        if (!up) {
            const bool due = phase == 0;  // output j is aligned with input j x factor
            phase = phase + 1 == factor ? 0 : phase + 1;
            if (!due) {
                continue;
            }
        }
        for (size_t p = 0; p < outputs; p++) {
            const double* t = &taps[p * held];
            double y = 0;
            for (size_t k = 0; k < held; k++) {
                y += t[k] * newest[-static_cast<ptrdiff_t>(k)];
            }
            if (skip > 0) {
                skip--;
            } else if (written < capacity) {
                out[written++] = static_cast<float>(y);
            }
        }
    }
    return written;
}

void WholeFactorConverter::Clear() {
    std::fill(history.begin(), history.end(), 0.0);
    at = phase = 0;
    skip = delay;
}

}  // namespace live
