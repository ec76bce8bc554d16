#pragma once

#include <cihear/cihear.h>

#include <cstddef>
#include <vector>

namespace live {

// The first sample from `from` on within 20 dB of the largest from there (in magnitude), or
// x.size() when all are 0: where a response is heard to begin.
size_t Onset(const std::vector<float>& x, size_t from = 0);

// How long after its input the simulation's response to an impulse begins, beyond the stream's
// latency, through the conversions from and to deviceRate (their responses, not their
// buffering), in device frames: the simulation's own filters. The median over a few impulses at
// different places in the stimulation cycle; 0 when the response is silence.
size_t FilterOnsetFrames(const cihear::Settings& settings, const cihear::StreamOptions& options,
                         double deviceRate);

}  // namespace live
