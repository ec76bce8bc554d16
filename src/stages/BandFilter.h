#pragma once

// BandFilter: each channel's modulated carrier band-limited to the channel's synthesis band by
// its 100-tap FIR (the Hamming-windowed sine at the band's centre, unit gain there: FilterFIR),
// and the bands added in channel order into the output. Delay: 50 samples (the taps' centre);
// the first 100 output samples of every band are 0, as the FIR gives no output before it is
// full. Every channel keeps the last 100 carrier samples from block to block.

#include <cstdint>
#include <vector>

#include "stages/Plan.h"

namespace stages {

class BandFilter {
public:
    BandFilter(const Plan& plan, uint32_t maxBlock);

    // Room for channel i's next k carrier samples (k <= maxBlock), to be written before Filter.
    double* Carrier(uint32_t i) { return channels[i].carrier.data() + kTaps; }
    // Band-limits channel i's next k carrier samples (into its band row).
    void Filter(uint32_t i, uint32_t k);
    // out[j] = out[j] + every channel's band sample j, added in channel order, for j in
    // [first, end) (slices may run at once).
    void Sum(double* out, uint32_t first, uint32_t end) const;
    // Once every channel's k samples are filtered and summed: on to the next.
    void Advance(uint32_t k) { position += k; }
    void Reset();

private:
    struct Channel {
        std::vector<double> carrier;  // the last kTaps samples, then the block
        std::vector<double> band;     // kTaps of scratch, then the block
    };
    const Plan& plan;
    uint64_t position = 0;
    std::vector<Channel> channels;
};

}  // namespace stages
