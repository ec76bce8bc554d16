#include "dsp/LinearInterpolator.h"

#include <cmath>
#include <cstdint>

#include "stages/RateConversion.h"

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
    // The interpolation stage over the whole input, as one block.
    Signal* output = new Signal(n, OutputRate(inLength, input->GetSampleRate(), n));
    double* y = output->GetSamples();
    stages::Interpolation interpolation(inLength, n);
    const uint32_t given = interpolation.Process(input->GetSamples(), inLength, y);
    interpolation.Finish(y + given);
    return output;
}
