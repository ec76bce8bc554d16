// Fuzzes the library's input and output steps on samples held in memory: any bytes as a rate,
// a channel count and 16-bit frames, through the stereo mix, the scaling, the rate conversion
// (or its refusal) and the rounding for storing. Either the conversion is refused with a
// message, or every converted sample is finite and within full scale, the length follows the
// rate, the conversion (made in blocks) has the bits of the whole-signal Resampler's, and storing
// gives back the scaled input by the storing rule.

#include <cihear/cihear.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzInput.h"
#include "dsp/Resampler.h"
#include "engine/Engine.h"
#include "signal/Signal.h"

using fuzzinput::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5 || size > 16 * 1024) {
        return 0;
    }
    uint32_t rate = 0;
    std::memcpy(&rate, data, 4);
    rate %= 200000;  // a rate beyond that only makes the run slow
    const bool stereo = data[4] & 1;
    const size_t count = (size - 5) / 2;
    std::vector<int16_t> raw(count);
    if (count > 0) {
        std::memcpy(raw.data(), data + 5, count * 2);  // an empty vector's data() may be null
    }

    std::vector<int16_t> mono = stereo ? cihear::MixStereo16(raw.data(), count / 2) : raw;
    const std::vector<double> x = cihear::FromPcm16(mono.data(), mono.size());
    // Storing truncates toward zero after adding one half, so a negative sample comes back one
    // step up, a non-negative one unchanged.
    for (size_t i = 0; i < x.size(); i++) {
        const int back = mono[i] < 0 ? mono[i] + 1 : mono[i];
        Require(cihear::ToPcm16(x[i]) == back, "storing did not give the scaled sample back");
    }

    const std::string why = engine::Unconvertible(x.size(), rate);
    if (!why.empty()) {
        Require(rate == 0 || rate < cihear::kOutputRate, "a refusal at a workable rate");
        return 0;
    }
    auto signal = std::make_unique<Signal>(static_cast<uint32_t>(x.size()), rate);
    std::copy(x.begin(), x.end(), signal->GetSamples());
    Signal input(*signal);
    signal = engine::ToInternalRate(std::move(signal));
    if (rate != cihear::kOutputRate) {
        const std::unique_ptr<Signal> whole(Resampler().Run(&input, cihear::kOutputRate));
        Require(whole->GetLength() == signal->GetLength() &&
                    whole->GetSampleRate() == signal->GetSampleRate() &&
                    (signal->GetLength() == 0 ||
                     std::memcmp(whole->GetSamples(), signal->GetSamples(),
                                 signal->GetLength() * sizeof(double)) == 0),
                "the conversion in blocks differs from the whole signal's");
    }
    const double expected = static_cast<double>(x.size()) * cihear::kOutputRate / rate;
    Require(std::fabs(signal->GetLength() - expected) <= expected * 0.01 + 25,
            "the converted length does not follow the rate");
    for (uint32_t i = 0; i < signal->GetLength(); i++) {
        const double v = signal->GetSamples()[i];
        Require(std::isfinite(v) && std::fabs(v) <= 1.5, "a converted sample out of range");
    }
    return 0;
}
