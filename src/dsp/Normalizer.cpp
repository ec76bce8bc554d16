#include "dsp/Normalizer.h"

#include <cmath>
#include <cstdint>

#include "dsp/Subnormals.h"

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
    Scale(x, output->GetSamples(), length, g);
    return output;
}

void Normalizer::Scale(const double* x, double* y, uint64_t length, double g) {
    // Shortcut: a sample with the bits of the one before it gives the output before it (in
    // silence the samples repeat one subnormal value).
    double lastX = 0.0;
    for (uint64_t i = 0; i < length; i++) {
        const double v = x[i];
        if (i > 0 && subnormals::ShortcutsEnabled() && subnormals::Same(v, lastX)) {
            y[i] = y[i - 1];
            continue;
        }
        CIHEAR_TALLY(subnormals::Is(v));
        lastX = v;
        y[i] = v * g;
    }
}
