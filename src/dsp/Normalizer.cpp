#include "dsp/Normalizer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "dsp/Subnormals.h"

Signal* Normalizer::Run(Signal* input) {
    const uint32_t length = input->GetLength();
    Signal* output = new Signal(length, input->GetSampleRate());
    Normalize(input->GetSamples(), output->GetSamples(), length);
    return output;
}

void Normalizer::Normalize(const double* x, double* y, uint64_t length) {
    ScaleToPeak(x, y, length, Peak(x, length));
}

double Normalizer::Peak(const double* x, uint64_t length) {
    double peak = 0.0;
    for (uint64_t i = 0; i < length; i++) {
        if (std::fabs(x[i]) > peak) {
            peak = std::fabs(x[i]);
        }
    }
    return peak;
}

void Normalizer::ScaleToPeak(const double* x, double* y, uint64_t length, double peak) {
    if (peak == 0.0) {
        std::fill(y, y + length, 0.0);
        return;
    }
    Scale(x, y, length, 0.9999 * (1.0 / peak));
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
