#pragma once

// Smoothing: each channel's envelope low-passed by the plan's order-2 Butterworth at rate / 2.4,
// so that an envelope changes little within a stimulation frame (the cutoff is 1 / 2.4 of the
// frame rate, well below the frame rate's Nyquist frequency rate / 2). It runs twice: before
// the N-of-M selection, and after it on the held values. Delay: the filter's group delay, about
// 0.2 / cutoff seconds at low frequencies (about 4 samples at 1800 frames/s); the first two
// samples are 0 (FilterIIR). Every channel carries its own state from block to block.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dsp/Kernels.h"
#include "stages/Plan.h"

namespace stages {

class Smoothing {
public:
    explicit Smoothing(const Plan& plan) : filter(plan.smoothing), state(16 * plan.channels, 0.0) {}

    // Channels [first, first + count) of the next m samples, in place, starting at sample
    // `start` of the signal (the channels of one block may go in groups, on several threads).
    void Process(double* const* rows, uint32_t first, uint32_t count, uint32_t m, uint64_t start) {
        kernels::FilterChannelsFrom(filter.a.data(), filter.b.data(), filter.Count(), rows + first,
                                    count, m, start, state.data() + 16 * first);
    }
    void Reset() { std::fill(state.begin(), state.end(), 0.0); }

private:
    const Recursive& filter;
    std::vector<double> state;  // 16 per channel (kernels::FilterChannelsFrom)
};

}  // namespace stages
