#pragma once

// Spread: the current spread between electrodes. Each channel's envelope becomes the sum of
// every channel's envelope weighted by the plan's weight at their distance, factor^d with
// factor = exp(-spacing / interact_decay) (InteractionFactor): the current of one electrode also
// excites its neighbours' nerve fibres, less the farther they are. Delay: none (the same sample
// of every channel). No state: a block is any slice of the samples.

#include <cstdint>

#include "dsp/Kernels.h"
#include "stages/Plan.h"

namespace stages {

// The m samples of rows[c][0 .. m) for every channel, in place.
inline void Spread(const Plan& plan, double* const* rows, uint32_t m) {
    kernels::MixChannels(plan.weights.data(), rows, plan.channels, m);
}

}  // namespace stages
