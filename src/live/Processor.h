#pragma once

#include <cihear/cihear.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "live/Converter.h"
#include "live/SpscRing.h"

namespace live {

struct ProcessorConfig {
    cihear::Settings settings;
    cihear::StreamOptions stream;
    double deviceRate = 48000;
    size_t period = 256;  // frames of every callback
    // The sound played instead of the microphone, at cihear::kOutputRate; null for the device's
    // input.
    const std::vector<float>* play = nullptr;
    bool loop = false;
    double mix = 0;  // share of the original in the output, 0..1
    bool bypass = false;
    bool recordInput = false;  // the stream's input and output, through rings to a writer
    bool recordOutput = false;
};

// Counters the audio thread keeps and any other thread reads.
struct ProcessorCounters {
    std::atomic<uint64_t> callbacks{0};
    std::atomic<uint64_t> busyNanoseconds{0};  // time spent in Process
    std::atomic<uint64_t> peakNanoseconds{0};  // the longest Process since the last reset
    std::atomic<uint64_t> clipped{0};          // output samples clamped to [-1, 1]
    std::atomic<uint64_t> underflows{0};       // callbacks that found too few samples ready
    std::atomic<uint64_t> lost{0};             // recorded samples the rings had no room for
};

// Everything between the device's samples and the stream: the conversions from and to the
// device's rate, the stream, the original's blend, the recording rings. Process is what an
// audio callback calls: it allocates nothing, takes no lock and touches no file.
//
// The conversions deliver a frame more or less than their share in some callbacks (the rates'
// ratio is not whole), and their filters hold back a few frames; a queue of converted samples
// before the device makes the output steady. Its length is found once, at construction, by running
// the same conversions on silence for the same callback size: it is the most any callback's output
// lags behind, so the whole program delays its input by a constant LatencyFrames().
class Processor {
public:
    explicit Processor(const ProcessorConfig& config);
    ~Processor();

    // One callback: frames (the configured period) device samples in (ignored when playing a
    // file; may then be null), as many out.
    void Process(const float* in, float* out, size_t frames);

    // The delay from a device input frame to the output frame that carries it, in device
    // frames: the converters' and the stream's.
    size_t LatencyFrames() const { return queueFrames + streamFrames; }
    // The delay as heard: from an impulse in to the onset of the simulation's response out,
    // which adds the simulation's own filters (FilterOnsetFrames) to LatencyFrames().
    size_t HeardFrames() const { return LatencyFrames() + filterFrames; }
    double ConverterMilliseconds() const { return 1000.0 * queueFrames / config.deviceRate; }
    double FilterMilliseconds() const { return 1000.0 * filterFrames / config.deviceRate; }
    double StreamMilliseconds() const { return 1000.0 * stream.Latency() / cihear::kOutputRate; }
    const cihear::Stream& GetStream() const { return stream; }

    void SetBypass(bool on) { bypass.store(on, std::memory_order_relaxed); }
    bool Bypass() const { return bypass.load(std::memory_order_relaxed); }
    // A file without --loop has played to its end and the tail has come out.
    bool Finished() const { return finished.load(std::memory_order_acquire); }

    ProcessorCounters& Counters() { return counters; }
    SpscRing<float>* InputRecording() { return inputRing.get(); }
    SpscRing<float>* OutputRecording() { return outputRing.get(); }

private:
    size_t NextInput(const float* in, size_t frames);
    void RunStream(size_t count);
    void Queue(size_t count);
    void Calibrate();

    ProcessorConfig config;
    cihear::Stream stream;
    std::unique_ptr<Converter> fromDevice;  // null when playing a file
    Converter toDevice;
    size_t streamFrames = 0;  // the stream's latency in device frames, rounded up
    size_t queueFrames = 0;
    size_t filterFrames = 0;

    // Working blocks at kOutputRate, and the queue of device samples (a ring).
    std::vector<float> block;
    std::vector<double> in20, out20;
    std::vector<double> original;  // the stream's input delayed by its latency (a ring)
    size_t originalAt = 0;
    std::vector<float> queue;
    size_t queueRead = 0, queueHeld = 0;
    std::vector<float> converted;

    // The file: position, the fractional count of its samples per callback, the tail.
    uint64_t callbackIndex = 0;
    size_t playAt = 0;
    size_t tailLeft = 0;
    bool ended = false;
    double weight = 0;           // the original's share now, moving towards its target
    uint64_t deviceClipped = 0;  // clamped after the conversion to the device's rate

    std::atomic<bool> bypass{false};
    std::atomic<bool> finished{false};
    ProcessorCounters counters;
    std::unique_ptr<SpscRing<float>> inputRing, outputRing;
};

}  // namespace live
