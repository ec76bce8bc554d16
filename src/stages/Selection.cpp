#include "stages/Selection.h"

#include "sim/Selection.h"

namespace stages {

Selection::Selection(const Plan& plan, int64_t frames)
    : plan(plan),
      frames(frames),
      clock(frames, plan.sampleRate, plan.rate),
      values(plan.channels, 0.0),
      marks(plan.channels, 0) {}

void Selection::Reset() {
    clock = block::FrameClock(frames, plan.sampleRate, plan.rate);
    position = 0;
    selected = 0;
    std::fill(values.begin(), values.end(), 0.0);
}

void Selection::Process(double* const* rows, uint32_t m) {
    const uint32_t n = plan.channels;
    for (uint32_t t = 0; t < m; t++) {
        const uint64_t j = position + t;
        bool entered = false;
        clock.Run(j, [&](int64_t, uint64_t, uint64_t) {
            // Frames that start at the same sample (empty ones) select from what the one before
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
        });
        if (clock.Holding(j) >= 0) {
            for (uint32_t ch = 0; ch < n; ch++) {
                rows[ch][t] = values[ch];
            }
        }
    }
    position += m;
}

}  // namespace stages
