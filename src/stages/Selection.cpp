#include "stages/Selection.h"

#include <algorithm>
#include <cmath>

#include "sim/Selection.h"

namespace stages {

Selection::Selection(const Plan& plan, uint32_t maxBlock, int64_t frames)
    : plan(plan),
      frames(frames),
      clock(frames, plan.sampleRate, plan.rate),
      values(plan.channels, 0.0),
      marks(plan.channels, 0),
      holding(maxBlock, -1),
      holdingFrame(maxBlock, -1) {
    // A sample starts at most one slot, and a block holds at most m rate / fs + 1 frame starts
    // (frame 0 and frame 1 both start at sample 0).
    const double starts = std::floor(maxBlock * (plan.rate / plan.sampleRate)) + 3.0;
    const size_t count = static_cast<size_t>(std::min<double>(maxBlock, starts)) + 1;
    slots.assign(count * plan.channels, 0.0);
}

void Selection::Reset() {
    clock = block::FrameClock(frames, plan.sampleRate, plan.rate);
    position = 0;
    selected = 0;
    std::fill(values.begin(), values.end(), 0.0);
}

void Selection::Choose(double* const* rows, uint32_t count) {
    const uint32_t n = plan.channels;
    m = count;
    int32_t slot = 0;
    std::copy(values.begin(), values.end(), slots.begin());
    for (uint32_t t = 0; t < m; t++) {
        const uint64_t j = position + t;
        bool entered = false;
        clock.Run(j, [&](int64_t c, uint64_t a, uint64_t b) {
            // Frames that start at the same sample (empty ones) choose from what the one before
            // left.
            if (!entered) {
                for (uint32_t ch = 0; ch < n; ch++) {
                    values[ch] = rows[ch][t];
                }
                entered = true;
            }
            MarkStrongest(values.data(), n, plan.nOn, selected, marks);
            for (uint32_t ch = 0; ch < n; ch++) {
                if (!marks[ch]) {
                    values[ch] = 0.0;
                }
            }
            if (onFrame) {
                onFrame(context, c, a, b, values.data(), marks.data());
            }
        });
        if (entered) {
            slot++;
            std::copy(values.begin(), values.end(), slots.begin() + size_t{n} * slot);
        }
        holdingFrame[t] = clock.Holding(j);
        holding[t] = holdingFrame[t] >= 0 ? slot : -1;
    }
    position += m;
}

void Selection::Hold(double* const* rows, uint32_t first, uint32_t count) const {
    const uint32_t n = plan.channels;
    for (uint32_t ch = first; ch < first + count; ch++) {
        double* e = rows[ch];
        for (uint32_t t = 0; t < m; t++) {
            if (holding[t] >= 0) {
                e[t] = slots[size_t{n} * holding[t] + ch];
            }
        }
    }
}

}  // namespace stages
