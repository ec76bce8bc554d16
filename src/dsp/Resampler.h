#pragma once

#include <cstdint>
#include <memory>

#include "dsp/FilterIIR.h"
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

    // The steps of one conversion of `length` samples at `source` Hz to `target` Hz, shared by
    // the conversion of whole signals here and the one in blocks (BlockResampler.h).
    struct Plan {
        bool possible = false;  // otherwise the result is empty (length 0, rate 0)
        bool copy = false;      // equal rates: the samples themselves, not normalised
        uint64_t hold = 1;      // times each input sample is repeated before filtering
        uint32_t heldLength = 0;
        uint32_t heldRate = 0;  // the rate the filter runs at
        double cutoff = 0.0;    // the filter's -3 dB point in Hz
        uint32_t length = 0;    // of the result
        uint32_t rate = 0;      // of the result
    };
    // What Run(input, target) does; the other two what Upsample and Downsample do.
    static Plan PlanRun(uint32_t length, uint32_t source, uint32_t target);
    static Plan PlanUpsample(uint32_t length, uint32_t source, uint32_t target);
    static Plan PlanDownsample(uint32_t length, uint32_t source, uint32_t target);

    // The low-pass filter of a possible, non-copying plan.
    static LP_FilterIIR Filter(const Plan& plan);
    // The held samples skip .. skip + count - 1 of x, each sample of x repeated hold times:
    // h[t] = x[(skip + t) / hold].
    static void Hold(const double* x, uint64_t hold, uint64_t skip, uint64_t count, double* h);

private:
    // Interpolates filtered to length samples, frees it, and normalises the result.
    Signal* Finish(std::unique_ptr<Signal> filtered, uint32_t length);

    LinearInterpolator interpolator;
    Normalizer normalizer;
};
