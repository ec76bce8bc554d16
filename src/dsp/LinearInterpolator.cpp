#include "dsp/LinearInterpolator.h"

#include <cmath>
#include <cstdint>

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

uint32_t LinearInterpolator::OutputRate(uint32_t inLength, uint32_t inRate, uint32_t length) {
    if (length == inLength) {
        return inRate;  // a copy
    }
    if (length == 0) {
        return 0;
    }
    if (inLength == 0) {
        return inRate;  // silence at the input's rate
    }
    const double ratio = static_cast<double>(length) / static_cast<double>(inLength);
    return RoundRate(ratio * static_cast<double>(inRate));
}

Signal* LinearInterpolator::Run(Signal* input, unsigned long length) {
    const uint32_t n = static_cast<uint32_t>(length);
    const uint32_t inLength = input->GetLength();
    if (n == inLength) {
        return Run(input);
    }
    Signal* output = new Signal(n, OutputRate(inLength, input->GetSampleRate(), n));
    if (n == 0 || inLength == 0) {
        return output;  // nothing, or silence
    }
    const double* x = input->GetSamples();
    double* y = output->GetSamples();
    y[0] = x[0];
    y[n - 1] = x[inLength - 1];

    const double step = Step(inLength, n);
    for (uint32_t i = 1; i + 1 < n; i++) {
        const Position at = At(i, step);
        y[i] = at.c >= inLength ? x[inLength - 1] : Between(at, x[at.c - 1], x[at.c]);
    }
    return output;
}
