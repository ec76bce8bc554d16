#include "dsp/Normalizer.h"

#include <cmath>
#include <cstdint>

Signal* Normalizer::Run(Signal* input) {
    const uint32_t length = input->GetLength();
    Signal* output = new Signal(length, input->GetSampleRate());  // all zeros
    const double* x = input->GetSamples();
    double peak = 0.0;
    for (uint32_t i = 0; i < length; i++) {
        if (std::fabs(x[i]) > peak) {
            peak = std::fabs(x[i]);
        }
    }
    if (peak == 0.0) {
        return output;
    }
    const double g = 0.9999 * (1.0 / peak);
    double* y = output->GetSamples();
    for (uint32_t i = 0; i < length; i++) {
        y[i] = x[i] * g;
    }
    return output;
}
