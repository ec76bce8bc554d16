#pragma once

// Spread: the current spread between electrodes. Each channel's envelope becomes the sum of
// every channel's envelope weighted by the plan's weight at the distance of their electrodes,
// factor^d with factor = exp(-spacing / interact_decay) (InteractionFactor), d in electrode
// spacings (switched-off electrodes keep their places, so two active electrodes on either side
// of one are two spacings apart): the current of one electrode also excites its neighbours'
// nerve fibres, less the farther they are. Delay: none (the same sample of every channel). No
// state: a block is any slice of the samples.

#include <cstdint>
#include <vector>

#include "dsp/Kernels.h"
#include "stages/Plan.h"

namespace stages {

// The samples rows[c][first .. end) of every channel, in place (slices may run at once).
inline void Spread(const Plan& plan, double* const* rows, uint32_t first, uint32_t end) {
    const uint32_t* positions = plan.Contiguous() ? nullptr : plan.positions.data();
    if (first == 0) {
        kernels::MixChannels(plan.weights.data(), rows, plan.channels, end, positions);
        return;
    }
    std::vector<double*> slice(rows, rows + plan.channels);
    for (double*& r : slice) {
        r += first;
    }
    kernels::MixChannels(plan.weights.data(), slice.data(), plan.channels, end - first, positions);
}

}  // namespace stages
