#include "dsp/TrainPulseGenerator.h"

#include <cstdint>

namespace {

// Half the width of the window over which pulses share their height; the first and last
// halfWindow samples never carry a pulse.
const uint32_t halfWindow = 250;

}  // namespace

TrainPulseGenerator::TrainPulseGenerator(Signal* source) : source(source) {}

Signal* TrainPulseGenerator::Generate() {
    const uint32_t length = source->GetLength();
    Signal* pulses = new Signal(length, source->GetSampleRate());  // all zeros
    if (length <= 2 * halfWindow) {
        return pulses;  // no sample has a full window on both sides
    }
    const double* x = source->GetSamples();
    double* p = pulses->GetSamples();
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
    return pulses;
}
