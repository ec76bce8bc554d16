#pragma once

#include "signal/DSP.h"

// Stretches or shrinks a signal to a given number of samples by linear interpolation, scaling
// its sample rate by the same ratio so that the duration is kept.
class LinearInterpolator final : public SimpleDSP {
public:
    LinearInterpolator() = default;
    LinearInterpolator(const LinearInterpolator&) = delete;
    LinearInterpolator& operator=(const LinearInterpolator&) = delete;

    // A copy of input.
    Signal* Run(Signal* input) override;
    // input resampled to exactly length samples; the first and last samples are kept.
    // Any length is safe: positions past the last input sample (asked for only when
    // length > 2 * input length) take the last sample, and an empty input gives length zeros
    // at the input's rate.
    virtual Signal* Run(Signal* input, unsigned long length);
};
