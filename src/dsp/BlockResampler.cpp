#include "dsp/BlockResampler.h"

#include <algorithm>
#include <vector>

#include "stages/Normalization.h"
#include "stages/RateConversion.h"

namespace {

// Asks `next` for all `length` samples in order, in blocks of at most `block`: block k into
// into(done) (done being the samples before it), then handed to took(samples, m). False as soon
// as `next` fails.
template <typename Into, typename Took>
bool ReadInBlocks(uint32_t length, uint32_t block, const SampleSource& next, Into&& into,
                  Took&& took) {
    for (uint32_t done = 0; done < length;) {
        const uint32_t m = std::min(block, length - done);
        double* samples = into(done);
        if (!next(samples, m)) {
            return false;
        }
        took(samples, m);
        done += m;
    }
    return true;
}

}  // namespace

std::unique_ptr<Signal> ResampleInBlocks(uint32_t length, uint32_t source, uint32_t target,
                                         const SampleSource& next, uint32_t block) {
    const stages::RatePlan plan = stages::PlanConversion(length, source, target);
    block = std::max(block, 1u);
    std::vector<double> in(std::min(block, length));
    const auto intoIn = [&](uint32_t) { return in.data(); };
    const auto ignore = [](double*, uint32_t) {};
    if (!plan.possible) {
        // Every sample is still asked for.
        if (!ReadInBlocks(length, block, next, intoIn, ignore)) {
            return nullptr;
        }
        return std::unique_ptr<Signal>(new Signal(0, 0));
    }
    std::unique_ptr<Signal> output(new Signal(plan.length, plan.rate));
    double* y = output->GetSamples();
    if (plan.copy) {
        const auto intoOutput = [y](uint32_t done) { return y + done; };
        return ReadInBlocks(length, block, next, intoOutput, ignore) ? std::move(output) : nullptr;
    }
    // The stage in blocks: each block's output goes where the output has got to.
    stages::RateConversion conversion(plan, block);
    uint32_t given = 0;
    const auto convert = [&](double* samples, uint32_t m) {
        given += conversion.Process(samples, m, y + given);
    };
    if (!ReadInBlocks(length, block, next, intoIn, convert)) {
        return nullptr;
    }
    conversion.Finish(y + given);
    stages::Normalize(y, y, plan.length);
    return output;
}
