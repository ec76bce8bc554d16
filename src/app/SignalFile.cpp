// Loading a WAV file into the simulation's signal and saving the result.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/cli.h"
#include "dsp/BlockResampler.h"
#include "dsp/Parallel.h"
#include "dsp/Resampler.h"
#include "engine/Engine.h"
#include "signal/Signal.h"
#include "wav/WaveFile.h"

namespace {

void ReportError(const std::string& text) {
    std::cerr << "error: " << text << std::endl;
}

}  // namespace

bool OpenInput(const char* name, OpenedInput& input) {
    if (!input.wave.OpenRead(name)) {
        ReportError("could not open file");
        return false;
    }
    const std::string why = engine::Unloadable(input.wave);
    if (!why.empty()) {
        ReportError(why);
        return false;
    }
    const Resampler::Plan plan = Resampler::PlanRun(
        input.wave.GetNumSamples(), input.wave.GetSampleRate(), cihear::kOutputRate);
    input.length = plan.possible ? plan.length : 0;
    return true;
}

std::unique_ptr<Signal> LoadInput(OpenedInput& input) {
    // The frames are read, mixed and scaled a block at a time, straight into the conversion to
    // the internal rate: only the converted signal is held whole.
    WaveFile& wave = input.wave;
    const uint32_t channels = wave.GetNumChannels();
    std::vector<short> frames;
    const SampleSource next = [&](double* samples, uint32_t count) {
        frames.resize(static_cast<size_t>(count) * channels);
        if (!wave.ReadSamples(frames.data(), count)) {  // count frames of `channels` samples
            return false;
        }
        if (channels == 2) {
            const std::vector<int16_t> mono = cihear::MixStereo16(frames.data(), count);
            frames.assign(mono.begin(), mono.end());
        }
        const std::vector<double> x = cihear::FromPcm16(frames.data(), count);
        std::copy(x.begin(), x.end(), samples);
        return true;
    };
    std::unique_ptr<Signal> signal =
        ResampleInBlocks(wave.GetNumSamples(), wave.GetSampleRate(), cihear::kOutputRate, next);
    if (!signal) {
        ReportError("could not read samples from file");
    }
    return signal;
}

Signal* read(const char* name) {
    OpenedInput input;
    if (!OpenInput(name, input)) {
        return nullptr;
    }
    return LoadInput(input).release();
}

bool save(Signal* signal, const char* name) {
    return SaveSamples(signal->GetSamples(), signal->GetLength(), name);
}

bool SaveSamples(const double* x, uint32_t n, const char* name, parallel::Team* team) {
    // Converted a slice per thread, into memory first touched by the conversion itself.
    std::unique_ptr<int16_t[]> samples(new int16_t[std::max<uint32_t>(n, 1)]);
    std::unique_ptr<parallel::Team> own;
    if (!team && n >= (1u << 16)) {
        own = std::make_unique<parallel::Team>(parallel::DefaultThreadCount());
        team = own.get();
    }
    const uint32_t parts = n < (1u << 16) ? 1 : team->Size();
    auto convert = [&](uint32_t k) {
        const auto end = static_cast<uint32_t>(parallel::SliceStart(n, k + 1, parts));
        for (auto i = static_cast<uint32_t>(parallel::SliceStart(n, k, parts)); i < end; i++) {
            samples[i] = cihear::ToPcm16(x[i]);
        }
    };
    if (parts == 1) {
        convert(0);
    } else {
        team->For(parts, convert);
    }

    // The writer every front end uses: the file appears whole or not at all.
    const cihear::Status written = cihear::WriteWav16(name, samples.get(), n);
    if (!written.ok()) {
        ReportError(written.message);
        return false;
    }
    return true;
}
