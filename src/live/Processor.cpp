#include "live/Processor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "live/Onset.h"

namespace live {

namespace {

// Silence run at construction: one second in a single block, which makes the converters
// reserve all the memory they will ever hold (they never allocate again), then a while to settle
// them and a while to find how late their output comes. Its pattern recurs within a few
// callbacks, which the measure sees; through libsamplerate a rounding in its running position may
// move an output by a frame after a long run: a margin of two frames covers it.
const double kSettleSeconds = 0.5;
const double kMeasureSeconds = 5;
const int64_t kMarginFrames = 2;
// A change of the original's share (space, --bypass) fades over this many samples (10 ms).
const double kFadeSamples = 200;
// The recording rings hold this many seconds: the writer thread empties them far more often.
const size_t kRecordSeconds = 10;

float Clamp(float v, uint64_t& clipped) {
    if (v > 1.0f || v < -1.0f) {
        clipped++;
        return v > 0 ? 1.0f : -1.0f;
    }
    return v;
}

}  // namespace

Processor::Processor(const ProcessorConfig& c)
    : config(c),
      stream(c.settings, c.stream),
      toDevice(cihear::kOutputRate, c.deviceRate),
      bypass(c.bypass) {
    if (!config.play) {
        fromDevice = std::make_unique<Converter>(config.deviceRate, cihear::kOutputRate);
    }
    weight = config.bypass ? 1 : config.mix;
    streamFrames = static_cast<size_t>(
        std::lround(stream.Latency() * config.deviceRate / cihear::kOutputRate));
    original.assign(stream.Latency(), 0.0);
    if (config.recordInput) {
        inputRing = std::make_unique<SpscRing<float>>(kRecordSeconds * cihear::kOutputRate);
    }
    if (config.recordOutput) {
        outputRing = std::make_unique<SpscRing<float>>(kRecordSeconds * cihear::kOutputRate);
    }
    Calibrate();
    filterFrames = FilterOnsetFrames(config.settings, config.stream, config.deviceRate);
}

Processor::~Processor() = default;

void Processor::Calibrate() {
    const size_t n = config.period;
    const auto rate = static_cast<size_t>(config.deviceRate);
    const auto calls = [&](double seconds) {
        return std::max<size_t>(64, static_cast<size_t>(seconds * config.deviceRate / n) + 1);
    };
    const size_t settle = calls(kSettleSeconds), total = settle + calls(kMeasureSeconds);
    // Room for the second in one block, and for the callbacks while they are measured.
    block.assign(4 * rate + 65536, 0.0f);
    converted.assign(4 * rate + 65536, 0.0f);
    const std::vector<float> silence(std::max(n, rate), 0.0f);
    const size_t first = fromDevice
                             ? fromDevice->Process(silence.data(), rate, block.data(), block.size())
                             : cihear::kOutputRate;
    int64_t produced = static_cast<int64_t>(
        toDevice.Process(block.data(), first, converted.data(), converted.size()));
    int64_t lag = 0, maxLag = std::numeric_limits<int64_t>::min();
    size_t maxBlock = 0, maxConverted = 0;
    // Each conversion's own most lag (in device frames, at the stream's input and at the output):
    // their sum bounds the most of both together, which with some rates and periods comes only
    // after minutes, when both are at their latest at once.
    double taken = double(first), mostIn = -1e300, mostOut = -1e300;
    for (size_t k = 0; k < total; k++) {
        const size_t m = NextInput(silence.data(), n);
        std::fill(block.begin(), block.begin() + m, 0.0f);
        const size_t out = toDevice.Process(block.data(), m, converted.data(), converted.size());
        produced += static_cast<int64_t>(out);
        lag = static_cast<int64_t>(rate + (k + 1) * n) - produced;
        taken += double(m);
        const double taken20 = taken * config.deviceRate / cihear::kOutputRate;
        if (k >= settle) {
            maxLag = std::max(maxLag, lag);
            mostIn = std::max(mostIn, double(rate + (k + 1) * n) - taken20);
            mostOut = std::max(mostOut, taken20 - double(produced));
        }
        maxBlock = std::max(maxBlock, m);
        maxConverted = std::max(maxConverted, out);
    }
    const bool fractional = toDevice.Fractional() || (fromDevice && fromDevice->Fractional());
    const int64_t most = std::max(maxLag, static_cast<int64_t>(std::ceil(mostIn + mostOut - 1e-9)));
    queueFrames =
        static_cast<size_t>(std::max<int64_t>(0, most + (fractional ? kMarginFrames : 0)));
    block.assign(2 * maxBlock + 1024, 0.0f);
    converted.assign(2 * maxConverted + 1024, 0.0f);
    in20.assign(block.size(), 0.0);
    out20.assign(block.size(), 0.0);
    queue.assign(queueFrames + 2 * n + converted.size(), 0.0f);
    // The file starts at its beginning after the silence.
    playAt = 0;
    // As if the queue had started with queueFrames samples of silence.
    queueHeld = static_cast<size_t>(static_cast<int64_t>(queueFrames) - lag);
    queueRead = 0;
}

// The next block at kOutputRate into `block`: the device's input converted, or the file's
// share of this callback (and silence after its end).
size_t Processor::NextInput(const float* in, size_t frames) {
    const uint64_t k = callbackIndex++;
    if (fromDevice) {
        return fromDevice->Process(in, frames, block.data(), block.size());
    }
    const auto rate = static_cast<uint64_t>(config.deviceRate);
    const uint64_t f = frames * uint64_t(cihear::kOutputRate);
    const auto m = static_cast<size_t>((k + 1) * f / rate - k * f / rate);
    const std::vector<float>& file = *config.play;
    for (size_t i = 0; i < m; i++) {
        if (playAt == file.size() && config.loop && !file.empty()) {
            playAt = 0;
        }
        block[i] = playAt < file.size() ? file[playAt++] : 0.0f;
    }
    return m;
}

// The stream over block[0..count), the recordings, and the blend with the delayed original
// back into block.
void Processor::RunStream(size_t count) {
    for (size_t i = 0; i < count; i++) {
        in20[i] = block[i];
    }
    stream.Process(in20.data(), count, out20.data());
    uint64_t lost = 0;
    if (inputRing) {
        lost += count - inputRing->Push(block.data(), count);
    }
    const double target = bypass.load(std::memory_order_relaxed) ? 1 : config.mix;
    const size_t delay = original.size();
    for (size_t i = 0; i < count; i++) {
        double x = in20[i];
        if (delay > 0) {
            std::swap(x, original[originalAt]);
            originalAt = originalAt + 1 == delay ? 0 : originalAt + 1;
        }
        const auto simulated = static_cast<float>(out20[i]);
        if (outputRing && outputRing->Push(&simulated, 1) == 0) {
            lost++;
        }
        weight += std::clamp(target - weight, -1 / kFadeSamples, 1 / kFadeSamples);
        block[i] = static_cast<float>((1 - weight) * out20[i] + weight * x);
    }
    if (lost) {
        counters.lost.fetch_add(lost, std::memory_order_relaxed);
    }
}

// Converts block[0..count) to the device's rate, onto the queue.
void Processor::Queue(size_t count) {
    const size_t m = toDevice.Process(block.data(), count, converted.data(), converted.size());
    for (size_t i = 0; i < m && queueHeld < queue.size(); i++, queueHeld++) {
        queue[(queueRead + queueHeld) % queue.size()] = converted[i];
    }
}

void Processor::Process(const float* in, float* out, size_t frames) {
    const auto start = std::chrono::steady_clock::now();
    uint64_t clipped = 0;
    if (frames != config.period) {
        std::fill(out, out + frames, 0.0f);
        counters.underflows.fetch_add(1, std::memory_order_relaxed);
    } else {
        const size_t m = NextInput(in, frames);
        RunStream(m);
        Queue(m);
        if (queueHeld < frames) {
            counters.underflows.fetch_add(1, std::memory_order_relaxed);
        }
        for (size_t i = 0; i < frames; i++) {
            float v = 0;
            if (queueHeld > 0) {
                v = queue[queueRead];
                queueRead = queueRead + 1 == queue.size() ? 0 : queueRead + 1;
                queueHeld--;
            }
            out[i] = Clamp(v, clipped);
        }
        if (config.play && !config.loop) {
            if (!ended && playAt == config.play->size()) {
                ended = true;
                tailLeft = stream.Latency() + 2 +
                           static_cast<size_t>(
                               std::ceil(queueFrames * cihear::kOutputRate / config.deviceRate));
            } else if (ended) {
                tailLeft -= std::min(tailLeft, m);
                finished.store(tailLeft == 0, std::memory_order_release);
            }
        }
    }
    deviceClipped += clipped;
    counters.clipped.store(stream.Clipped() + deviceClipped, std::memory_order_relaxed);
    const auto ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
    counters.busyNanoseconds.fetch_add(ns, std::memory_order_relaxed);
    if (ns > counters.peakNanoseconds.load(std::memory_order_relaxed)) {
        counters.peakNanoseconds.store(ns, std::memory_order_relaxed);
    }
    counters.callbacks.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace live
