#include "dsp/Resampler.h"

#include <cmath>
#include <memory>
#include <utility>

namespace {

// Both anti-imaging and anti-aliasing filters sit at this fraction of the lower of the rates.
const double cutoffFraction = 0.45;
const unsigned int filterOrder = 2;
const uint64_t maxUint32 = UINT32_MAX;

Signal* EmptySignal() {
    return new Signal(0, 0);
}

}  // namespace

Resampler::Plan Resampler::PlanRun(uint32_t length, uint32_t source, uint32_t target) {
    if (source < target) {
        return PlanUpsample(length, source, target);
    }
    if (source > target) {
        return PlanDownsample(length, source, target);
    }
    Plan plan;
    plan.possible = true;
    plan.copy = true;
    plan.length = length;
    plan.rate = source;
    return plan;
}

Resampler::Plan Resampler::PlanUpsample(uint32_t length, uint32_t source, uint32_t target) {
    Plan plan;
    if (source == 0 || target == 0) {
        return plan;
    }
    const double ratio = static_cast<double>(target) / static_cast<double>(source);
    const double factor = std::ceil(ratio);
    if (factor > static_cast<double>(maxUint32)) {
        return plan;
    }
    const uint64_t k = static_cast<uint64_t>(factor);
    const uint64_t heldLength = static_cast<uint64_t>(length) * k;
    const uint64_t heldRate = static_cast<uint64_t>(source) * k;
    if (heldLength > maxUint32 || heldRate > maxUint32) {
        return plan;
    }
    plan.possible = true;
    plan.hold = k;
    plan.heldLength = static_cast<uint32_t>(heldLength);
    plan.heldRate = static_cast<uint32_t>(heldRate);
    plan.cutoff = cutoffFraction * static_cast<double>(source);
    // At most heldLength, since ratio <= k.
    plan.length = static_cast<uint32_t>(std::ceil(ratio * static_cast<double>(length)));
    plan.rate = LinearInterpolator::OutputRate(plan.heldLength, plan.heldRate, plan.length);
    return plan;
}

Resampler::Plan Resampler::PlanDownsample(uint32_t length, uint32_t source, uint32_t target) {
    Plan plan;
    if (source == 0 || target == 0) {
        return plan;
    }
    const double n =
        static_cast<double>(length) * (static_cast<double>(target) / static_cast<double>(source));
    if (n >= static_cast<double>(maxUint32) + 1.0) {
        return plan;  // only when asked to "downsample" to a much higher rate
    }
    plan.possible = true;
    plan.heldLength = length;
    plan.heldRate = source;
    plan.cutoff = cutoffFraction * static_cast<double>(target);
    plan.length = static_cast<uint32_t>(n);
    plan.rate = LinearInterpolator::OutputRate(length, source, plan.length);
    return plan;
}

LP_FilterIIR Resampler::Filter(const Plan& plan) {
    return LP_FilterIIR(filterOrder, static_cast<double>(plan.heldRate), plan.cutoff);
}

void Resampler::Hold(const double* x, uint64_t hold, uint64_t skip, uint64_t count, double* h) {
    uint64_t j = skip / hold;         // the sample of x being repeated
    uint64_t repeated = skip % hold;  // times it has been already, before h[t]
    for (uint64_t t = 0; t < count; t++) {
        if (repeated == hold) {
            j++;
            repeated = 0;
        }
        h[t] = x[j];
        repeated++;
    }
}

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
    const Plan plan =
        PlanUpsample(input->GetLength(), input->GetSampleRate(), static_cast<uint32_t>(rate));
    if (!plan.possible) {
        return EmptySignal();
    }
    std::unique_ptr<Signal> held(new Signal(plan.heldLength, plan.heldRate));
    Hold(input->GetSamples(), plan.hold, 0, plan.heldLength, held->GetSamples());
    std::unique_ptr<Signal> filtered(Filter(plan).Run(held.get()));
    held.reset();
    return Finish(std::move(filtered), plan.length);
}

Signal* Resampler::Downsample(Signal* input, unsigned long rate) {
    const Plan plan =
        PlanDownsample(input->GetLength(), input->GetSampleRate(), static_cast<uint32_t>(rate));
    if (!plan.possible) {
        return EmptySignal();
    }
    std::unique_ptr<Signal> filtered(Filter(plan).Run(input));
    return Finish(std::move(filtered), plan.length);
}

Signal* Resampler::Finish(std::unique_ptr<Signal> filtered, uint32_t length) {
    std::unique_ptr<Signal> interpolated(interpolator.Run(filtered.get(), length));
    filtered.reset();
    return normalizer.Run(interpolated.get());
}
