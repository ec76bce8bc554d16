#pragma once

// RateConversion: a recording brought to another sample rate (in the simulation, any input rate
// to the 20000 Hz the implant is simulated at), in three steps:
//
// - raising the rate, every sample is first repeated k = ceil(target / source) times (a
//   zero-order hold, which keeps the signal's shape and puts images of it above the source's
//   Nyquist frequency);
// - a Butterworth low-pass of order 2 at 0.45 of the lower of the two rates (kCutoffFraction: a
//   little below that rate's Nyquist frequency, 0.5) removes the images (raising) or what would
//   alias (lowering);
// - linear interpolation (Interpolation) reaches the exact length ceil(length target / source)
//   (raising) or floor(length target / source) (lowering); the first and last samples are kept.
//
// Delay: the low-pass's group delay, a few samples at the filter's rate; its first three
// samples are 0 (FilterIIR). The peak normalisation the offline conversion ends with needs the
// whole result and is not part of the stage. Equal rates are no conversion: the samples
// themselves, not normalised. The input goes in block by block and the output comes out in
// order as it becomes known, bit for bit what one pass over the whole input gives.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/FilterIIR.h"
#include "dsp/Kernels.h"
#include "dsp/LinearInterpolator.h"

namespace stages {

// What one conversion of `length` samples at `source` Hz to `target` Hz does.
struct RatePlan {
    bool possible = false;  // otherwise the result is empty (length 0, rate 0)
    bool copy = false;      // equal rates: the samples themselves, not normalised
    uint64_t hold = 1;      // times each input sample is repeated before filtering
    uint32_t heldLength = 0;
    uint32_t heldRate = 0;  // the rate the filter runs at
    double cutoff = 0.0;    // the filter's -3 dB point in Hz
    uint32_t length = 0;    // of the result
    uint32_t rate = 0;      // of the result
};

// The anti-imaging and anti-aliasing low-pass sits at this fraction of the lower rate.
constexpr double kCutoffFraction = 0.45;
constexpr unsigned kConversionOrder = 2;

// Raising the rate: impossible for a rate of 0, or when the held signal or its rate would not
// fit 32 bits.
inline RatePlan PlanRaise(uint32_t length, uint32_t source, uint32_t target) {
    RatePlan plan;
    if (source == 0 || target == 0) {
        return plan;
    }
    const double ratio = static_cast<double>(target) / static_cast<double>(source);
    const double factor = std::ceil(ratio);
    if (factor > static_cast<double>(UINT32_MAX)) {
        return plan;
    }
    const auto k = static_cast<uint64_t>(factor);
    const uint64_t heldLength = uint64_t{length} * k;
    const uint64_t heldRate = uint64_t{source} * k;
    if (heldLength > UINT32_MAX || heldRate > UINT32_MAX) {
        return plan;
    }
    plan.possible = true;
    plan.hold = k;
    plan.heldLength = static_cast<uint32_t>(heldLength);
    plan.heldRate = static_cast<uint32_t>(heldRate);
    plan.cutoff = kCutoffFraction * static_cast<double>(source);
    // At most heldLength, since ratio <= k.
    plan.length = static_cast<uint32_t>(std::ceil(ratio * static_cast<double>(length)));
    plan.rate = LinearInterpolator::OutputRate(plan.heldLength, plan.heldRate, plan.length);
    return plan;
}

// Lowering the rate: impossible for a rate of 0, or (asked to "lower" to a much higher rate)
// for a result beyond 32-bit lengths.
inline RatePlan PlanLower(uint32_t length, uint32_t source, uint32_t target) {
    RatePlan plan;
    if (source == 0 || target == 0) {
        return plan;
    }
    const double n =
        static_cast<double>(length) * (static_cast<double>(target) / static_cast<double>(source));
    if (n >= static_cast<double>(UINT32_MAX) + 1.0) {
        return plan;
    }
    plan.possible = true;
    plan.heldLength = length;
    plan.heldRate = source;
    plan.cutoff = kCutoffFraction * static_cast<double>(target);
    plan.length = static_cast<uint32_t>(n);
    plan.rate = LinearInterpolator::OutputRate(length, source, plan.length);
    return plan;
}

// Either, as the rates ask; equal rates give a copy.
inline RatePlan PlanConversion(uint32_t length, uint32_t source, uint32_t target) {
    if (source < target) {
        return PlanRaise(length, source, target);
    }
    if (source > target) {
        return PlanLower(length, source, target);
    }
    RatePlan plan;
    plan.possible = true;
    plan.copy = true;
    plan.length = length;
    plan.rate = source;
    return plan;
}

// The low-pass of a possible, non-copying plan.
inline LP_FilterIIR ConversionLowPass(const RatePlan& plan) {
    return LP_FilterIIR(kConversionOrder, static_cast<double>(plan.heldRate), plan.cutoff);
}

// A signal of inLength samples stretched or shrunk to exactly `length` by linear interpolation
// (LinearInterpolator::At and Between), taken in order, block by block. Output sample 0 is input
// sample 0, the last output sample the last input sample, and positions past the last input
// sample take it too; equal lengths are a copy, and an empty input gives `length` zeros.
class Interpolation {
public:
    Interpolation(uint32_t inLength, uint32_t length)
        : inLength(inLength),
          length(length),
          step(length > 0 && inLength > 0 ? LinearInterpolator::Step(inLength, length) : 0.0) {}

    // The next m input samples: the output samples they complete go to out[0 ..), and how many
    // (at most m when shrinking, about m length / inLength + 1 when stretching).
    uint32_t Process(const double* x, uint32_t m, double* out) {
        if (m == 0 || length == 0) {
            return 0;
        }
        if (length == inLength) {
            std::copy(x, x + m, out);
            start += m;
            next += m;
            return m;
        }
        const uint32_t first = next;
        if (start == 0 && length > 1) {
            out[next++ - first] = x[0];
        }
        const uint64_t end = start + m;
        for (; next + 1 < length; next++) {
            const LinearInterpolator::Position at = LinearInterpolator::At(next, step);
            if (at.c >= end) {
                break;  // for a later block, or past the last sample
            }
            const double before = at.c > start ? x[at.c - 1 - start] : last;
            out[next - first] = LinearInterpolator::Between(at, before, x[at.c - start]);
        }
        last = x[m - 1];
        start = end;
        return next - first;
    }

    // After all inLength samples: the rest of the output into out[0 ..), and how many.
    uint32_t Finish(double* out) {
        const uint32_t first = next;
        if (inLength == 0) {
            std::fill(out, out + length, 0.0);  // silence
            next = length;
        }
        for (; next < length; next++) {
            out[next - first] = last;
        }
        return next - first;
    }

    uint32_t Produced() const { return next; }

private:
    const uint32_t inLength;
    const uint32_t length;
    const double step;
    uint64_t start = 0;  // input samples taken so far
    uint32_t next = 0;   // output samples given so far
    double last = 0.0;   // x[start - 1]
};

// The conversion of a possible, non-copying plan: hold, low-pass, interpolation. Blocks of up to
// maxBlock input samples; the held signal is filtered in pieces of at most maxBlock samples.
class RateConversion {
public:
    RateConversion(const RatePlan& plan, uint32_t maxBlock)
        : plan(plan),
          filter(ConversionLowPass(plan)),
          interpolation(plan.heldLength, plan.length),
          held(plan.hold > 1 ? std::max<uint64_t>(1, std::min<uint64_t>(maxBlock, plan.heldLength))
                             : 0) {}

    // The next m input samples in x (overwritten): the output samples they complete go to
    // out[0 ..), and how many.
    uint32_t Process(double* x, uint32_t m, double* out) {
        if (plan.hold == 1) {
            return Filtered(x, m, out);
        }
        // The held block may end inside one sample's repetitions.
        uint32_t given = 0;
        const uint64_t total = m * plan.hold;
        for (uint64_t h = 0; h < total;) {
            const auto count = static_cast<uint32_t>(std::min<uint64_t>(held.size(), total - h));
            Hold(x + h / plan.hold, plan.hold, h % plan.hold, count, held.data());
            given += Filtered(held.data(), count, out + given);
            h += count;
        }
        return given;
    }
    // After the whole input: the rest of the output into out[0 ..), and how many.
    uint32_t Finish(double* out) { return interpolation.Finish(out); }

    // The held samples skip .. skip + count - 1 of x, each sample of x repeated hold times:
    // h[t] = x[(skip + t) / hold].
    static void Hold(const double* x, uint64_t hold, uint64_t skip, uint64_t count, double* h) {
        uint64_t j = skip / hold;         // the sample of x being repeated
        uint64_t repeated = skip % hold;  // times it has been already, before h[t]
        for (uint64_t t = 0; t < count; t++) {
            if (repeated == hold) {
                j++;
                repeated = 0;
            }
            h[t] = x[j];
            repeated++;
        }
    }

private:
    uint32_t Filtered(double* y, uint32_t count, double* out) {
        kernels::FilterChannelsFrom(filter.GetA(), filter.GetB(), filter.GetNumCoeffs(), &y, 1,
                                    count, position, state);
        position += count;
        return interpolation.Process(y, count, out);
    }

    const RatePlan plan;
    const LP_FilterIIR filter;
    Interpolation interpolation;
    std::vector<double> held;
    uint64_t position = 0;  // held samples filtered so far
    double state[16] = {};  // kernels::FilterChannelsFrom
};

}  // namespace stages
