// The one path from samples to the simulated output, for the library and the command line.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

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

}  // namespace

namespace engine {

cihear::Result SimulateInternal(std::unique_ptr<Signal> input, const cihear::Settings& settings,
                                const cihear::Options& options) {
    const uint64_t length = input->GetLength();
    return SimulateLoading(
        length, [&input] { return std::move(input); }, settings, options);
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
        result.inspection.channels = settings.n_inserted_ch;
    }
    return result;
}

cihear::Result SimulateLoading(uint64_t length, const BlockSimulation::Loader& load,
                               const cihear::Settings& settings, const cihear::Options& options,
                               parallel::Team* team) {
    if (options.live) {
        return SimulateLive(load, settings, options);
    }
    cihear::Result result;
    std::unique_ptr<Parameters> parameters(MakeParameters(settings));
    RandomState random = options.seed ? SeededRandomState(*options.seed) : RandomState();

    SelectionRecord record;
    cihear::Inspection& inspection = result.inspection;
    if (options.inspect) {
        inspection.design = DescribePlan(stages::MakePlan(*parameters, cihear::kOutputRate));
        inspection.channels = parameters->n_inserted_ch->GetValue();
    }

    // The simulation in blocks of time: memory bounded by the input and the output.
    BlockSimulation blocks;
    blocks.parameters = parameters.get();
    blocks.sampleRate = cihear::kOutputRate;
    blocks.random = &random;
    blocks.threads = parallel::DefaultThreadCount();
    blocks.team = team;
    if (options.inspect) {
        blocks.selection = &record;
        if (options.envelopes) {
            blocks.envelopes = &inspection.envelopes;
        }
    }
    result.output = blocks.Run(length, load);
    if (options.inspect) {
        FillSelection(record, inspection);
    }
    return result;
}

}  // namespace engine

namespace cihear {

const char* Version() {
    return CIHEAR_VERSION;
}

Result Simulate(const double* samples, size_t count, uint32_t sampleRate, const Settings& settings,
                const Options& options) {
    Result result;
    std::string why = engine::Unconvertible(count, sampleRate);
    if (why.empty() && count > std::numeric_limits<uint32_t>::max()) {
        why = "the input is too long: at most 4294967295 samples";
    }
    if (!why.empty()) {
        result.status = {sampleRate == 0 ? Status::kBadInput : Status::kRateTooLow, why};
        return result;
    }
    if (options.seed && (*options.seed < 0 || *options.seed > kMaxSeed)) {
        result.status = {Status::kBadInput, "seed = " + std::to_string(*options.seed) +
                                                " is out of range; accepted: 0 to " +
                                                std::to_string(kMaxSeed)};
        return result;
    }
    if (options.live && !(std::isfinite(options.inputGain) && std::isfinite(options.outputGain))) {
        result.status = {Status::kBadInput, "the input and output gains must be finite numbers"};
        return result;
    }
    try {
        auto input = std::make_unique<Signal>(static_cast<uint32_t>(count), sampleRate);
        std::copy(samples, samples + count, input->GetSamples());
        return engine::SimulateInternal(engine::ToInternalRate(std::move(input)), settings,
                                        options);
    } catch (const std::bad_alloc&) {
        result.status = {Status::kOutOfMemory, "not enough memory"};
        return result;
    }
}

}  // namespace cihear
