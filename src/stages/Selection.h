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

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "sim/BlockStreams.h"
#include "stages/Plan.h"

namespace stages {

// The frames of a signal of `length` samples: floor(length rate / fs - 1), the last two never
// reached, or 0 when the signal is shorter than a frame.
inline int64_t FrameCount(uint64_t length, double rate, double fs) {
    const double count =
        std::floor(static_cast<double>(static_cast<uint32_t>(length)) * (rate / fs) - 1.0);
    return count > 0.0 ? static_cast<int64_t>(count) : 0;
}

class Selection {
public:
    // frames: how many frames run (unbounded for a stream); blocks of up to maxBlock samples.
    Selection(const Plan& plan, uint32_t maxBlock,
              int64_t frames = std::numeric_limits<int64_t>::max());

    // Told of every frame as it is chosen: its number, its samples [start, end), every
    // channel's value after the choice and whether it was chosen.
    using Observer = void (*)(void* context, int64_t frame, uint64_t start, uint64_t end,
                              const double* values, const uint32_t* marks);
    void SetObserver(Observer observer, void* observerContext) {
        onFrame = observer;
        context = observerContext;
    }

    // A block in two steps: Choose runs the frames that start in it, from the envelopes at
    // their starts (in order, one thread); Hold then writes the held values over the samples
    // a frame holds, for channels [first, first + count) (groups may run at once).
    void Choose(double* const* rows, uint32_t m);
    void Hold(double* const* rows, uint32_t first, uint32_t count) const;
    // The frame holding sample t of the block just chosen, or -1.
    int64_t HoldingFrame(uint32_t t) const { return holdingFrame[t]; }
    void Reset();

private:
    const Plan& plan;
    int64_t frames;
    block::FrameClock clock;
    uint64_t position = 0;
    uint32_t m = 0;        // the block just chosen
    int32_t selected = 0;  // carried across frames (MarkStrongest)
    std::vector<double> values;
    std::vector<uint32_t> marks;
    // The values of the frames of the block (slot 0: the frame holding at its start), and which
    // slot holds each sample (-1: none).
    std::vector<double> slots;
    std::vector<int32_t> holding;
    std::vector<int64_t> holdingFrame;
    Observer onFrame = nullptr;
    void* context = nullptr;
};

}  // namespace stages
