#pragma once

#include <cstddef>
#include <vector>

namespace live {

// Conversion between 20000 Hz and a whole multiple of it (40000, 60000, 80000 Hz), one sample
// at a time: no blocks, so no bursts to queue for, and a minimum-phase filter, whose response
// comes at once instead of after half its length. 0 dB (within 0.001 dB) to 9 kHz, below
// -110 dB from 11 kHz.

// The filter at factor x 20000 Hz (its sum is 1): a Kaiser-windowed sinc of 80 x factor taps
// cut at 10 kHz, turned minimum phase (the same magnitude) through its cepstrum.
std::vector<double> MinimumPhaseLowPass(unsigned factor);

class WholeFactorConverter {
public:
    // up: from 20000 Hz to factor x 20000 Hz; otherwise down. factor >= 2.
    WholeFactorConverter(unsigned factor, bool up);

    // As Converter::Process: the output is aligned with the input at the filter's peak (the
    // first samples, up to the peak, are not given), so that the delay shows as buffering.
    size_t Process(const float* in, size_t count, float* out, size_t capacity);
    void Clear();
    // The output samples held back at the start.
    size_t Delay() const { return delay; }

private:
    unsigned factor;
    bool up;
    std::vector<double> taps;     // up: phase p's taps at p, p + factor, ...
    std::vector<double> history;  // the latest inputs, twice over (a ring read without wrap)
    size_t at = 0;                // where the next input goes
    size_t phase = 0;             // down: inputs since the last output
    size_t delay = 0, skip = 0;
};

}  // namespace live
