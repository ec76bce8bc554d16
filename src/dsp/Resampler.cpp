#include "dsp/Resampler.h"

#include <cmath>
#include <memory>
#include <utility>

#include "dsp/FilterIIR.h"

namespace {

// Both anti-imaging and anti-aliasing filters sit at this fraction of the lower of the rates.
const double cutoffFraction = 0.45;
const unsigned int filterOrder = 2;
const uint64_t maxUint32 = UINT32_MAX;

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
    const uint32_t target = static_cast<uint32_t>(rate);
    const uint32_t source = input->GetSampleRate();
    const uint32_t length = input->GetLength();
    if (source == 0 || target == 0) {
        return EmptySignal();
    }
    const double ratio = static_cast<double>(target) / static_cast<double>(source);
    const double factor = std::ceil(ratio);
    if (factor > static_cast<double>(maxUint32)) {
        return EmptySignal();
    }
    const uint64_t k = static_cast<uint64_t>(factor);
    const uint64_t heldLength = static_cast<uint64_t>(length) * k;
    const uint64_t heldRate = static_cast<uint64_t>(source) * k;
    if (heldLength > maxUint32 || heldRate > maxUint32) {
        return EmptySignal();
    }

    std::unique_ptr<Signal> held(new Signal(heldLength, heldRate));
    const double* x = input->GetSamples();
    double* h = held->GetSamples();
    for (uint64_t j = 0; j < length; j++) {
        for (uint64_t m = 0; m < k; m++) {
            h[j * k + m] = x[j];
        }
    }
    LP_FilterIIR filter(filterOrder, static_cast<double>(heldRate),
                        cutoffFraction * static_cast<double>(source));
    std::unique_ptr<Signal> filtered(filter.Run(held.get()));
    held.reset();

    // At most heldLength, since ratio <= k.
    const uint32_t n = static_cast<uint32_t>(std::ceil(ratio * static_cast<double>(length)));
    return Finish(std::move(filtered), n);
}

Signal* Resampler::Downsample(Signal* input, unsigned long rate) {
    const uint32_t target = static_cast<uint32_t>(rate);
    const uint32_t source = input->GetSampleRate();
    if (source == 0 || target == 0) {
        return EmptySignal();
    }
    const double n = static_cast<double>(input->GetLength()) *
                     (static_cast<double>(target) / static_cast<double>(source));
    if (n >= static_cast<double>(maxUint32) + 1.0) {
        return EmptySignal();  // only when asked to "downsample" to a much higher rate
    }
    LP_FilterIIR filter(filterOrder, static_cast<double>(source),
                        cutoffFraction * static_cast<double>(target));
    std::unique_ptr<Signal> filtered(filter.Run(input));
    return Finish(std::move(filtered), static_cast<uint32_t>(n));
}

Signal* Resampler::Finish(std::unique_ptr<Signal> filtered, uint32_t length) {
    std::unique_ptr<Signal> interpolated(interpolator.Run(filtered.get(), length));
    filtered.reset();
    return normalizer.Run(interpolated.get());
}
