#pragma once

#include <cstdint>
#include <memory>

#include "dsp/FilterIIR.h"
#include "signal/DSP.h"
#include "stages/RateConversion.h"

// Converts a whole signal to another sample rate: the rate conversion stage
// (stages::RateConversion: a hold when raising the rate, a low-pass at 0.45 of the lower rate,
// linear interpolation to the exact length) over the whole signal at once, then the result
// peak-normalised. Keeps no state.
//
// A conversion that cannot be carried out (a rate of 0 on either side, or a held signal that
// would not fit 32-bit lengths and rates) yields an empty signal (length 0, rate 0).
class Resampler final {
public:
    Resampler() = default;
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // A copy of input.
    Signal* Run(Signal* input);
    virtual ~Resampler() = default;
    // input at the given rate: upsampled, downsampled, or copied (not normalised) when the
    // rates are already equal.
    virtual Signal* Run(Signal* input, unsigned long rate);

    Signal* Upsample(Signal* input, unsigned long rate);
    Signal* Downsample(Signal* input, unsigned long rate);

    // The steps of one conversion of `length` samples at `source` Hz to `target` Hz
    // (stages::RatePlan), shared by the conversion of whole signals here and the one in blocks
    // (BlockResampler.h).
    using Plan = stages::RatePlan;
    // What Run(input, target) does; the other two what Upsample and Downsample do.
    static Plan PlanRun(uint32_t length, uint32_t source, uint32_t target) {
        return stages::PlanConversion(length, source, target);
    }
    static Plan PlanUpsample(uint32_t length, uint32_t source, uint32_t target) {
        return stages::PlanRaise(length, source, target);
    }
    static Plan PlanDownsample(uint32_t length, uint32_t source, uint32_t target) {
        return stages::PlanLower(length, source, target);
    }

    // The low-pass filter of a possible, non-copying plan.
    static LP_FilterIIR Filter(const Plan& plan) { return stages::ConversionLowPass(plan); }
    // The held samples skip .. skip + count - 1 of x, each sample of x repeated hold times:
    // h[t] = x[(skip + t) / hold].
    static void Hold(const double* x, uint64_t hold, uint64_t skip, uint64_t count, double* h) {
        stages::RateConversion::Hold(x, hold, skip, count, h);
    }

private:
    // The conversion of a plan's input, one block of the stage, normalised.
    static Signal* Convert(const Plan& plan, const Signal& input);
};
