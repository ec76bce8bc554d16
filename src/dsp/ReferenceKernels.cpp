// The plain loops of the kernels, one output sample (or channel) after the other: the
// definition that the fast kernels must reproduce bit for bit, and the baseline they are timed
// against.

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/FilterIIR.h"
#include "dsp/Kernels.h"
#include "dsp/gasdev.h"

namespace reference_kernels {

namespace {

const uint32_t numTaps = kernel_sizes::kTaps;
const uint32_t halfWindow = kernel_sizes::kPulseHalfWindow;

}  // namespace

// The tap loop of Convolve at one output sample n >= numTaps.
double Tap(const double* h, const double* x, uint32_t n) {
    double acc = 0.0;
    for (uint32_t k = 0; k < numTaps; k++) {
        acc = x[n - k] * h[k] + acc;
    }
    return acc;
}

void Convolve(const double* h, const double* x, double* y, uint32_t length) {
    for (uint32_t n = 0; n < numTaps && n < length; n++) {
        y[n] = 0.0;
    }
    for (uint32_t n = numTaps; n < length; n++) {
        y[n] = Tap(h, x, n);
    }
}

void ConvolveAdd(const double* h, const double* x, double* sum, uint32_t length) {
    // The first numTaps outputs are 0, which are added too.
    for (uint32_t n = 0; n < numTaps && n < length; n++) {
        sum[n] = sum[n] + 0.0;
    }
    for (uint32_t n = numTaps; n < length; n++) {
        sum[n] = sum[n] + Tap(h, x, n);
    }
}

void QuadratureMagnitude(const double* hs, const double* hc, const double* x, double* env,
                         uint32_t length) {
    for (uint32_t n = 0; n < numTaps && n < length; n++) {
        env[n] = 0.0;
    }
    for (uint32_t n = numTaps; n < length; n++) {
        const double s = Tap(hs, x, n);
        const double c = Tap(hc, x, n);
        env[n] = std::sqrt(s * s + c * c);
    }
}

void FilterChannels(const double* a, const double* b, uint32_t num_coeffs, double* const* channels,
                    uint32_t count, uint32_t length) {
    std::vector<double> x(length);
    for (uint32_t c = 0; c < count; c++) {
        std::copy(channels[c], channels[c] + length, x.begin());
        FilterIIR::Apply(a, b, num_coeffs, x.data(), channels[c], length);
    }
}

void FilterChannelsFrom(const double* a, const double* b, uint32_t num_coeffs,
                        double* const* channels, uint32_t count, uint32_t length, uint64_t start,
                        double* state) {
    for (uint32_t c = 0; c < count; c++) {
        double* xh = state + 16 * c;
        double* yh = xh + 8;
        for (uint32_t t = 0; t < length; t++) {
            const double xn = channels[c][t];
            double y = 0.0;
            if (start + t >= num_coeffs) {
                y = b[0] * xn;
                for (uint32_t k = 1; k < num_coeffs; k++) {
                    y = (b[k] * xh[k] - a[k] * yh[k]) + y;
                }
            }
            for (uint32_t k = 7; k > 1; k--) {
                xh[k] = xh[k - 1];
                yh[k] = yh[k - 1];
            }
            xh[1] = xn;
            yh[1] = y;
            channels[c][t] = y;
        }
    }
}

void MixChannels(const double* w, double* const* channels, uint32_t count, uint32_t length,
                 const uint32_t* positions) {
    // One sample of every channel at a time: its sources are kept aside while the channels'
    // samples are overwritten with their sums.
    // The sources on the stack for every channel count the parameters allow (no allocation).
    double stackColumn[64];
    std::vector<double> heapColumn(count > 64 ? count : 0);
    double* column = count > 64 ? heapColumn.data() : stackColumn;
    for (uint32_t j = 0; j < length; j++) {
        for (uint32_t s = 0; s < count; s++) {
            column[s] = channels[s][j];
        }
        for (uint32_t i = 0; i < count; i++) {
            double y = 0.0;
            for (uint32_t s = 0; s < count; s++) {
                y = y + column[s] * w[kernel_sizes::Distance(positions, i, s)];
            }
            channels[i][j] = y;
        }
    }
}

void PulseTrain(const double* x, double* p, uint32_t length) {
    std::fill(p, p + length, 0.0);
    if (length <= 2 * halfWindow) {
        return;
    }
    const uint32_t end = length - halfWindow;
    for (uint32_t i = halfWindow; i < end; i++) {
        if (x[i] > x[i - 1] && x[i] > x[i + 1]) {
            p[i] = 1.0;
        }
    }
    // In place: a pulse already divided is still non-zero, so every count is the number of
    // marked maxima in the window.
    for (uint32_t i = halfWindow; i < end; i++) {
        if (p[i] != 0.0) {
            uint32_t count = 0;
            for (uint32_t j = i - halfWindow; j <= i + halfWindow; j++) {
                if (p[j] != 0.0) {
                    count++;
                }
            }
            p[i] = p[i] / static_cast<double>(count);
        }
    }
}

void Randn(RandomState& state, double* out, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        out[i] = randn(state);
    }
}

}  // namespace reference_kernels
