#pragma once

#include <cmath>
#include <cstdint>

#include "dsp/Subnormals.h"
#include "signal/DSP.h"

// Stretches or shrinks a signal to a given number of samples by linear interpolation, scaling
// its sample rate by the same ratio so that the duration is kept.
class LinearInterpolator final {
public:
    LinearInterpolator() = default;
    LinearInterpolator(const LinearInterpolator&) = delete;
    LinearInterpolator& operator=(const LinearInterpolator&) = delete;

    // A copy of input.
    Signal* Run(Signal* input);
    // input resampled to exactly length samples; the first and last samples are kept.
    // Any length is safe: positions past the last input sample (asked for only when
    // length > 2 * input length) take the last sample, and an empty input gives length zeros
    // at the input's rate.
    virtual Signal* Run(Signal* input, unsigned long length);

    // The sample rate of Run(input, length) for an input of inLength samples at inRate.
    static uint32_t OutputRate(uint32_t inLength, uint32_t inRate, uint32_t length);

    // Where output sample i (0 < i < length - 1) of a stretch of inLength samples to length
    // lies: at position p = i * step, step = inLength / length, between the input samples
    // c - 1 and c, c = ceil(p) >= 1. Positions grow with i. The two ends are not interpolated:
    // output sample 0 is input sample 0, the last output sample the last input sample, and a
    // position with c >= inLength takes the last input sample too.
    struct Position {
        double p;
        uint32_t c;
    };
    static double Step(uint32_t inLength, uint32_t length) {
        return static_cast<double>(inLength) / static_cast<double>(length);
    }
    static Position At(uint32_t i, double step) {
        const double p = static_cast<double>(i) * step;
        return {p, static_cast<uint32_t>(std::ceil(p))};
    }
    // The output sample at `at`, from the input samples before = x[c - 1] and after = x[c].
    static double Between(const Position& at, double before, double after) {
        if (subnormals::ShortcutsEnabled() && subnormals::Same(before, after) &&
            std::isfinite(after)) {
            // Shortcut, exact for equal finite neighbours: their difference is +0, times the
            // non-negative c - p is +0, and x[c] + 0 is x[c] (-0 + 0 being +0).
            return after == 0.0 ? 0.0 : after;
        }
        CIHEAR_TALLY(2 * subnormals::Is(after) + subnormals::Is(before));
        return after + (static_cast<double>(at.c) - at.p) * (before - after);
    }
};
