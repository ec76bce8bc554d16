#include "dsp/Resampler.h"

#include <memory>
#include <vector>

#include "stages/Normalization.h"

namespace {

Signal* EmptySignal() {
    return new Signal(0, 0);
}

}  // namespace

Signal* Resampler::Run(Signal* input) {
    return new Signal(*input);
}

Signal* Resampler::Run(Signal* input, unsigned long rate) {
    const uint32_t target = static_cast<uint32_t>(rate);
    const uint32_t source = input->GetSampleRate();
    if (source < target) {
        return Upsample(input, target);
    }
    if (source > target) {
        return Downsample(input, target);
    }
    return Run(input);
}

Signal* Resampler::Upsample(Signal* input, unsigned long rate) {
    return Convert(
        PlanUpsample(input->GetLength(), input->GetSampleRate(), static_cast<uint32_t>(rate)),
        *input);
}

Signal* Resampler::Downsample(Signal* input, unsigned long rate) {
    return Convert(
        PlanDownsample(input->GetLength(), input->GetSampleRate(), static_cast<uint32_t>(rate)),
        *input);
}

Signal* Resampler::Convert(const Plan& plan, const Signal& input) {
    if (!plan.possible) {
        return EmptySignal();
    }
    // The stage works on its input in place: on a copy. The held signal is made whole, as one
    // block.
    const uint32_t length = input.GetLength();
    std::vector<double> x(input.GetSamples(), input.GetSamples() + length);
    std::unique_ptr<Signal> output(new Signal(plan.length, plan.rate));
    double* y = output->GetSamples();
    stages::RateConversion conversion(plan, plan.heldLength);
    const uint32_t given = conversion.Process(x.data(), length, y);
    conversion.Finish(y + given);
    stages::Normalize(y, y, plan.length);
    return output.release();
}
