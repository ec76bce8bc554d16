#pragma once

// Selection: the N-of-M strategy of the implant. At the start of every stimulation frame (frame
// c ends at sample floor(c fs / rate)) the n_on channels with the largest envelope are kept and
// every other channel is set to 0; each channel then holds that value over the frame, as the
// implant stimulates once per frame (MarkStrongest says how ties are broken). Delay: none; a
// value is taken at the frame's first sample and held to its end.
//
// A stream has no last frame. The offline simulation stops one frame before the end of the
// signal and leaves the samples after its last frame as they are; with a frame count given, so
// does this stage.

#include <cstdint>
#include <limits>
#include <vector>

#include "sim/BlockStreams.h"
#include "stages/Plan.h"

namespace stages {

class Selection {
public:
    // frames: how many frames run (unbounded for a stream).
    explicit Selection(const Plan& plan, int64_t frames = std::numeric_limits<int64_t>::max());

    // The next m samples of every channel, in place.
    void Process(double* const* rows, uint32_t m);
    void Reset();

private:
    const Plan& plan;
    int64_t frames;
    block::FrameClock clock;
    uint64_t position = 0;
    int32_t selected = 0;  // carried across frames (MarkStrongest)
    std::vector<double> values;
    std::vector<uint32_t> marks;
};

}  // namespace stages
