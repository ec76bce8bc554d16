// The one path from samples to the simulated output, for the library and the command line.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <sstream>
#include <string>

#include "dsp/Parallel.h"
#include "dsp/gasdev.h"
#include "engine/Engine.h"
#include "params/Parameters.h"
#include "signal/Signal.h"
#include "signal/SignalVector.h"
#include "sim/Analyzer.h"
#include "sim/BlockSimulation.h"
#include "stages/Plan.h"

#ifndef CIHEAR_VERSION
#error "CIHEAR_VERSION is defined by the build from the VERSION file"
#endif

namespace {

// The selection frames, turned from frame-by-frame into channel-by-channel rows.
void FillSelection(const SelectionRecord& record, cihear::Inspection& inspection) {
    const size_t n = inspection.channels;
    const size_t frames = record.starts.size();
    inspection.frames = frames;
    inspection.frameStarts = record.starts;
    inspection.frameLengths = record.lengths;
    inspection.electrodogram.assign(n * frames, 0.0);
    inspection.selected.assign(n * frames, 0);
    for (size_t f = 0; f < frames; f++) {
        for (size_t ch = 0; ch < n; ch++) {
            inspection.electrodogram[ch * frames + f] = record.levels[f * n + ch];
            inspection.selected[ch * frames + f] = record.selected[f * n + ch];
        }
    }
}

// Inputs whose peak lies in [2^-kLevelRange, 2^kLevelRange) are simulated at their own level:
// every intermediate value of the simulation stays far from overflow and underflow, so the
// output is that of the input at any other level in the range. Others are brought to a peak of
// 0.5 .. 1 by a power of two, which changes no bit of what the input at that level gives.
const int kLevelRange = 64;

// What Simulate checks and does to the samples before the simulation.
struct Prepared {
    std::string refusal;  // why the samples cannot be simulated, or ""
    int shift = 0;        // the power of two they are multiplied by
    double peak = 0.0;    // their largest magnitude
};

Prepared Prepare(const double* samples, size_t count) {
    Prepared p;
    if (samples == nullptr && count > 0) {
        p.refusal = "the samples are a null pointer with a count of " + std::to_string(count);
        return p;
    }
    double peak = 0.0;
    for (size_t i = 0; i < count; i++) {
        const double a = std::fabs(samples[i]);
        if (!std::isfinite(a)) {
            p.refusal = "the signal holds a NaN or an infinity (first at frame " +
                        std::to_string(i) + "); only finite samples can be simulated";
            return p;
        }
        peak = std::max(peak, a);
    }
    p.peak = peak;
    int exponent = 0;  // peak = f 2^exponent, 0.5 <= f < 1
    std::frexp(peak, &exponent);
    if (peak > 0.0 && (exponent <= -kLevelRange || exponent > kLevelRange)) {
        // At most 2^1023 either way, so that the factor undoing it is a double too.
        p.shift = std::max(-1023, std::min(1023, -exponent));
    }
    return p;
}

// Why an output is not a simulation: a sample that is not finite (which the level range above
// is there to prevent), or "".
std::string NotFinite(const std::vector<double>& output, double inputPeak) {
    for (const double y : output) {
        if (!std::isfinite(y)) {
            std::ostringstream why;
            why << "the simulation overflowed: the input's level (peak " << inputPeak
                << ") is too high for it";
            return why.str();
        }
    }
    return "";
}

}  // namespace

namespace engine {

cihear::Result SimulateInternal(std::unique_ptr<Signal> input, const cihear::Settings& settings,
                                const cihear::Options& options, double acousticGain) {
    const uint64_t length = input->GetLength();
    return SimulateLoading(
        length, [&input] { return std::move(input); }, settings, options, acousticGain);
}

// Options::live: the stream over the whole signal, then its tail.
cihear::Result SimulateLive(const BlockSimulation::Loader& load, const cihear::Settings& settings,
                            const cihear::Options& options) {
    cihear::Result result;
    std::unique_ptr<Signal> input = load();
    if (!input) {
        throw BlockSimulation::LoadFailed();
    }
    cihear::StreamOptions streamOptions;
    streamOptions.seed = options.seed;
    streamOptions.inputGain = options.inputGain;
    streamOptions.outputGain = options.outputGain;
    cihear::Stream stream(settings, streamOptions);
    const size_t length = input->GetLength();
    result.output.resize(length + stream.Latency());
    stream.Process(input->GetSamples(), length, result.output.data());
    input.reset();
    stream.Flush(result.output.data() + length);
    if (options.inspect) {
        result.inspection.design = cihear::Describe(settings);
        result.inspection.channels = result.inspection.design.bands.size();
    }
    return result;
}

cihear::Result SimulateLoading(uint64_t length, const BlockSimulation::Loader& load,
                               const cihear::Settings& settings, const cihear::Options& options,
                               double acousticGain, parallel::Team* team) {
    if (options.live) {
        return SimulateLive(load, settings, options);
    }
    cihear::Result result;
    RandomState random = options.seed ? SeededRandomState(*options.seed) : RandomState();
    const cihear::Settings effective = Effective(settings);

    SelectionRecord record;
    cihear::Inspection& inspection = result.inspection;
    if (options.inspect) {
        inspection.design = DescribePlan(stages::MakePlan(effective, cihear::kOutputRate));
        inspection.channels = inspection.design.bands.size();
    }

    // The simulation in blocks of time: memory bounded by the input and the output.
    BlockSimulation blocks;
    blocks.settings = &effective;
    blocks.seed = options.seed;
    blocks.sampleRate = cihear::kOutputRate;
    blocks.random = &random;
    blocks.threads = parallel::DefaultThreadCount();
    blocks.cancelled = options.cancelled;
    blocks.acousticGain = acousticGain;
    blocks.team = team;
    if (options.inspect) {
        blocks.selection = &record;
        if (options.envelopes) {
            blocks.envelopes = &inspection.envelopes;
        }
    }
    try {
        result.output = blocks.Run(length, load);
    } catch (const BlockSimulation::Cancelled&) {
        result.status = {cihear::Status::kCancelled, "cancelled"};
        return result;
    }
    if (options.inspect) {
        FillSelection(record, inspection);
    }
    return result;
}

}  // namespace engine

namespace {

// The simulation of checked samples, multiplied by their level's power of two.
cihear::Result SimulatePrepared(const double* samples, size_t count, uint32_t sampleRate,
                                const Prepared& prepared, const cihear::Settings& settings,
                                const cihear::Options& options) {
    const int shift = prepared.shift;
    auto input = std::make_unique<Signal>(static_cast<uint32_t>(count), sampleRate);
    double* x = input->GetSamples();
    if (shift == 0) {
        std::copy(samples, samples + count, x);
    } else {
        for (size_t i = 0; i < count; i++) {
            x[i] = std::ldexp(samples[i], shift);  // exact unless it falls below 2^-1022
        }
    }
    cihear::Result result;
    std::unique_ptr<Signal> converted = engine::ToInternalRate(std::move(input), options.cancelled);
    if (!converted) {
        result.status = {cihear::Status::kCancelled, "cancelled"};
        return result;
    }
    // At the internal rate the input is taken at its level, which under eas the acoustic part
    // keeps; at other rates the conversion has peak-normalised it anyway.
    const bool ownRate = sampleRate == cihear::kOutputRate;
    result = engine::SimulateInternal(std::move(converted), settings, options,
                                      ownRate ? std::ldexp(1.0, -shift) : 1.0);
    if (result.status.ok()) {
        const std::string why = NotFinite(result.output, prepared.peak);
        if (!why.empty()) {
            result = cihear::Result();
            result.status = {cihear::Status::kBadInput, why};
        }
    }
    return result;
}

}  // namespace

namespace cihear {

const char* Version() {
    return CIHEAR_VERSION;
}

Result Simulate(const double* samples, size_t count, uint32_t sampleRate, const Settings& settings,
                const Options& options) {
    Result result;
    std::string why = engine::Unconvertible(count, sampleRate);
    if (why.empty()) {
        why = engine::Vanishing(count, sampleRate);
    }
    if (why.empty() && count > std::numeric_limits<uint32_t>::max()) {
        why = "the input is too long: at most 4294967295 samples";
    }
    if (!why.empty()) {
        const bool low = sampleRate > 0 && sampleRate < kOutputRate;
        result.status = {low ? Status::kRateTooLow : Status::kBadInput, why};
        return result;
    }
    if (options.seed && (*options.seed < 0 || *options.seed > kMaxSeed)) {
        result.status = {Status::kBadInput, "seed = " + std::to_string(*options.seed) +
                                                " is out of range; accepted: 0 to " +
                                                std::to_string(kMaxSeed)};
        return result;
    }
    Prepared prepared = Prepare(samples, count);
    if (!prepared.refusal.empty()) {
        result.status = {Status::kBadInput, prepared.refusal};
        return result;
    }
    if (options.live) {
        if (!(std::isfinite(options.inputGain) && std::isfinite(options.outputGain))) {
            result.status = {Status::kBadInput,
                             "the input and output gains must be finite numbers"};
            return result;
        }
        prepared.shift = 0;  // the stream takes the input at its own level, times its gain
    }
    try {
        return SimulatePrepared(samples, count, sampleRate, prepared, settings, options);
    } catch (const std::bad_alloc&) {
        result.status = {Status::kOutOfMemory, "not enough memory"};
        return result;
    }
}

}  // namespace cihear
