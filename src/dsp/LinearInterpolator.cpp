#include "dsp/LinearInterpolator.h"

#include <cmath>
#include <cstdint>

#include "dsp/Subnormals.h"

namespace {

// Nearest integer, halves away from zero, saturated to the 32-bit range of sample rates.
uint32_t RoundRate(double rate) {
    const double r = std::round(rate);
    if (!(r < 4294967295.0)) {
        return UINT32_MAX;
    }
    return static_cast<uint32_t>(r);
}

}  // namespace

Signal* LinearInterpolator::Run(Signal* input) {
    return new Signal(*input);
}

Signal* LinearInterpolator::Run(Signal* input, unsigned long length) {
    const uint32_t n = static_cast<uint32_t>(length);
    const uint32_t inLength = input->GetLength();
    const uint32_t inRate = input->GetSampleRate();
    if (n == inLength) {
        return Run(input);
    }
    if (n == 0) {
        return new Signal(0, 0);
    }
    if (inLength == 0) {
        return new Signal(n, inRate);  // nothing to stretch: silence
    }
    const double ratio = static_cast<double>(n) / static_cast<double>(inLength);
    Signal* output = new Signal(n, RoundRate(ratio * static_cast<double>(inRate)));
    const double* x = input->GetSamples();
    double* y = output->GetSamples();
    y[0] = x[0];
    y[n - 1] = x[inLength - 1];

    const double step = static_cast<double>(inLength) / static_cast<double>(n);
    for (uint32_t i = 1; i + 1 < n; i++) {
        const double p = static_cast<double>(i) * step;
        const uint32_t c = static_cast<uint32_t>(std::ceil(p));
        if (c >= inLength) {
            y[i] = x[inLength - 1];  // past the last sample: hold it
        } else if (subnormals::ShortcutsEnabled() && subnormals::Same(x[c - 1], x[c]) &&
                   std::isfinite(x[c])) {
            // Shortcut, exact for equal finite neighbours: their difference is +0, times the
            // non-negative c - p is +0, and x[c] + 0 is x[c] (-0 + 0 being +0).
            y[i] = x[c] == 0.0 ? 0.0 : x[c];
        } else {
            CIHEAR_TALLY(2 * subnormals::Is(x[c]) + subnormals::Is(x[c - 1]));
            y[i] = x[c] + (static_cast<double>(c) - p) * (x[c - 1] - x[c]);
        }
    }
    return output;
}
