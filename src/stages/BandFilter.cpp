#include "stages/BandFilter.h"

#include <algorithm>

#include "dsp/Kernels.h"

namespace stages {

BandFilter::BandFilter(const Plan& plan, uint32_t maxBlock) : plan(plan), channels(plan.channels) {
    for (Channel& c : channels) {
        c.carrier.assign(kTaps + maxBlock, 0.0);
        c.band.assign(kTaps + maxBlock, 0.0);
    }
}

void BandFilter::Reset() {
    position = 0;
    for (Channel& c : channels) {
        std::fill(c.carrier.begin(), c.carrier.end(), 0.0);
    }
}

void BandFilter::Filter(uint32_t i, uint32_t k) {
    Channel& c = channels[i];
    kernels::Convolve(plan.synthesisTaps[i].data(), c.carrier.data(), c.band.data(), kTaps + k);
    // The samples before the FIR is full are 0.
    if (position < kTaps) {
        const uint64_t empty = std::min<uint64_t>(k, kTaps - position);
        std::fill(c.band.begin() + kTaps, c.band.begin() + kTaps + empty, 0.0);
    }
    if (k > 0) {
        std::copy(c.carrier.begin() + k, c.carrier.begin() + k + kTaps, c.carrier.begin());
    }
}

void BandFilter::Sum(double* out, uint32_t first, uint32_t end) const {
    for (const Channel& c : channels) {
        const double* y = c.band.data() + kTaps;
        for (uint32_t j = first; j < end; j++) {
            out[j] = out[j] + y[j];
        }
    }
}

}  // namespace stages
