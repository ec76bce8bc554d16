#include "dsp/BlockResampler.h"

#include <algorithm>
#include <vector>

#include "dsp/FilterIIR.h"
#include "dsp/LinearInterpolator.h"
#include "dsp/Normalizer.h"
#include "dsp/Resampler.h"

namespace {

// LinearInterpolator::Run(x, length) for an x of inLength samples that arrives in order, piece
// by piece, written into y. Keeps the last sample of the previous piece, the one sample before
// the current piece that an interpolated sample may read.
class Interpolation {
public:
    Interpolation(uint32_t inLength, double* y, uint32_t length)
        : inLength(inLength),
          y(y),
          length(length),
          step(length > 0 && inLength > 0 ? LinearInterpolator::Step(inLength, length) : 0.0) {}

    // The next count samples of x.
    void Next(const double* x, uint32_t count) {
        if (count == 0 || length == 0) {
            return;
        }
        if (length == inLength) {
            std::copy(x, x + count, y + start);  // a copy
            start += count;
            return;
        }
        if (start == 0) {
            y[0] = x[0];
        }
        const uint64_t end = start + count;
        for (; next + 1 < length; next++) {
            const LinearInterpolator::Position at = LinearInterpolator::At(next, step);
            if (at.c >= end) {
                break;  // for a later piece, or past the last sample
            }
            const double before = at.c > start ? x[at.c - 1 - start] : last;
            y[next] = LinearInterpolator::Between(at, before, x[at.c - start]);
        }
        last = x[count - 1];
        start = end;
    }

    // After all inLength samples: the positions past the last sample, and the last sample.
    void Finish() {
        if (length == 0 || inLength == 0 || length == inLength) {
            return;  // nothing, silence (y is zeros) or a copy
        }
        for (; next + 1 < length; next++) {
            y[next] = last;
        }
        y[length - 1] = last;
    }

private:
    const uint32_t inLength;
    double* const y;
    const uint32_t length;
    const double step;
    uint64_t start = 0;  // samples of x taken so far
    uint32_t next = 1;   // the first interpolated sample not yet written
    double last = 0.0;   // x[start - 1]
};

}  // namespace

std::unique_ptr<Signal> ResampleInBlocks(uint32_t length, uint32_t source, uint32_t target,
                                         const SampleSource& next, uint32_t block) {
    const Resampler::Plan plan = Resampler::PlanRun(length, source, target);
    block = std::max(block, 1u);
    std::vector<double> in(std::min(block, length));
    if (!plan.possible) {
        for (uint32_t done = 0; done < length;) {
            const uint32_t m = std::min(block, length - done);
            if (!next(in.data(), m)) {
                return nullptr;
            }
            done += m;
        }
        return std::unique_ptr<Signal>(new Signal(0, 0));
    }

    std::unique_ptr<Signal> output(new Signal(plan.length, plan.rate));
    double* y = output->GetSamples();
    if (plan.copy) {
        for (uint32_t done = 0; done < length;) {
            const uint32_t m = std::min(block, length - done);
            if (!next(y + done, m)) {
                return nullptr;
            }
            done += m;
        }
        return output;
    }

    const LP_FilterIIR filter = Resampler::Filter(plan);
    FilterStream filtering(filter);
    Interpolation interpolation(plan.heldLength, y, plan.length);
    std::vector<double> held(plan.hold > 1 ? std::min<uint64_t>(block, plan.heldLength) : 0);
    for (uint32_t done = 0; done < length;) {
        const uint32_t m = std::min(block, length - done);
        if (!next(in.data(), m)) {
            return nullptr;
        }
        done += m;
        if (plan.hold == 1) {
            filtering.Next(in.data(), m);
            interpolation.Next(in.data(), m);
            continue;
        }
        // The held piece may end inside one sample's repetitions.
        const uint64_t total = m * plan.hold;
        for (uint64_t h = 0; h < total;) {
            const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(block, total - h));
            Resampler::Hold(in.data() + h / plan.hold, plan.hold, h % plan.hold, count,
                            held.data());
            filtering.Next(held.data(), count);
            interpolation.Next(held.data(), count);
            h += count;
        }
    }
    interpolation.Finish();
    Normalizer::Normalize(y, y, plan.length);
    return output;
}
