#include "live/Onset.h"

#include <algorithm>
#include <cmath>

#include "live/Converter.h"

namespace live {

namespace {

// Impulses at this many places, a prime number of stream samples apart, each after a settled
// start and followed by enough for its response.
const int kPlaces = 5;
const size_t kStep = 41;
const double kBeforeSeconds = 0.1, kAfterSeconds = 0.15;

}  // namespace

size_t Onset(const std::vector<float>& x, size_t from) {
    float peak = 0;
    for (size_t i = from; i < x.size(); i++) {
        peak = std::max(peak, std::fabs(x[i]));
    }
    for (size_t i = from; i < x.size() && peak > 0; i++) {
        if (std::fabs(x[i]) >= 0.1f * peak) {
            return i;
        }
    }
    return x.size();
}

size_t FilterOnsetFrames(const cihear::Settings& settings, const cihear::StreamOptions& options,
                         double deviceRate) {
    const double ratio = deviceRate / cihear::kOutputRate;
    std::vector<double> onsets;
    for (int j = 0; j < kPlaces; j++) {
        Converter in(deviceRate, cihear::kOutputRate), out(cihear::kOutputRate, deviceRate);
        cihear::Stream stream(settings, options);
        const auto at = static_cast<size_t>(
            std::lround((kBeforeSeconds + j * kStep / cihear::kOutputRate) * deviceRate));
        std::vector<float> x(at + static_cast<size_t>(kAfterSeconds * deviceRate), 0.0f);
        x[at] = 0.5f;
        std::vector<float> x20(x.size()), y(4 * x.size() + 1024);
        x20.resize(in.Process(x.data(), x.size(), x20.data(), x20.size()));
        std::vector<double> in20(x20.begin(), x20.end()), out20(x20.size());
        stream.Process(in20.data(), in20.size(), out20.data());
        const std::vector<float> y20(out20.begin(), out20.end());
        y.resize(out.Process(y20.data(), y20.size(), y.data(), y.size()));
        const size_t onset = Onset(y, at);
        if (onset < y.size()) {
            onsets.push_back(double(onset - at) - double(stream.Latency()) * ratio);
        }
    }
    if (onsets.empty()) {
        return 0;
    }
    std::sort(onsets.begin(), onsets.end());
    return static_cast<size_t>(std::max(0.0, std::round(onsets[onsets.size() / 2])));
}

}  // namespace live
