#pragma once

#include <cstdint>
#include <memory>

#include "dsp/LinearInterpolator.h"
#include "dsp/Normalizer.h"
#include "signal/DSP.h"

// Converts a signal to another sample rate. Raising the rate repeats every sample a whole
// number of times (zero-order hold) and low-passes the result at 0.45 times the input rate;
// lowering it low-passes at 0.45 times the target rate first. Either way the interpolator then
// reaches the exact output length and the result is peak-normalised. Keeps no state.
//
// A conversion that cannot be carried out (a rate of 0 on either side, or a held signal that
// would not fit 32-bit lengths and rates) yields an empty signal (length 0, rate 0).
class Resampler final : SimpleDSP {
public:
    Resampler() = default;
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // A copy of input.
    Signal* Run(Signal* input) override;
    virtual ~Resampler() = default;
    // input at the given rate: upsampled, downsampled, or copied (not normalised) when the
    // rates are already equal.
    virtual Signal* Run(Signal* input, unsigned long rate);

    Signal* Upsample(Signal* input, unsigned long rate);
    Signal* Downsample(Signal* input, unsigned long rate);

private:
    // Interpolates filtered to length samples, frees it, and normalises the result.
    Signal* Finish(std::unique_ptr<Signal> filtered, uint32_t length);

    LinearInterpolator interpolator;
    Normalizer normalizer;
};
