// What the program refuses to load, judged from a WAV file's header alone, and the loading of
// the samples it accepts.
#include <algorithm>
#include <new>
#include <sstream>

#include "dsp/BlockResampler.h"
#include "engine/Engine.h"
#include "signal/Signal.h"
#include "stages/RateConversion.h"
#include "wav/WaveFile.h"

namespace engine {

cihear::Status LoadStatus(const WaveFile& wave) {
    using cihear::Status;
    std::ostringstream why;
    Status::Code code = Status::kBadInput;
    const unsigned channels = wave.GetNumChannels();
    if (channels != 1 && channels != 2) {
        why << "unsupported number of channels (" << channels
            << "); only mono and stereo are supported";
    } else if (wave.GetSampleRate() == 0) {
        why << Unconvertible(wave.GetNumSamples(), 0);
    } else if (wave.GetAvailableDataLength() < wave.GetDataLength()) {
        why << "file is truncated: the data chunk declares " << wave.GetDataLength()
            << " bytes but only " << wave.GetAvailableDataLength() << " follow";
    } else if (wave.GetBitsPerChannel() != 16 || wave.GetBytesPerSample() != 2 * channels) {
        // Only 16-bit frames of one sample per channel are read.
        why << "could not read samples from file";
        if (wave.GetBitsPerChannel() != 16) {
            code = Status::kUnsupportedEncoding;
        }
    } else {
        why << Unconvertible(wave.GetNumSamples(), wave.GetSampleRate());
        if (wave.GetSampleRate() < cihear::kOutputRate) {
            code = Status::kRateTooLow;
        }
    }
    if (why.str().empty()) {
        return Status();
    }
    return {code, why.str()};
}

std::string Unloadable(const WaveFile& wave) {
    return LoadStatus(wave).message;
}

cihear::Status OpenWave(const char* name, WaveFile& wave) {
    if (!wave.OpenRead(name)) {
        return {cihear::Status::kCannotOpen, "could not open file"};
    }
    return LoadStatus(wave);
}

SampleSource MonoSource(WaveFile& wave, std::vector<short>& frames) {
    const uint32_t channels = wave.GetNumChannels();
    return [&wave, &frames, channels](double* samples, uint32_t count) {
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
}

uint32_t ConvertedLength(const WaveFile& wave) {
    const stages::RatePlan plan =
        stages::PlanConversion(wave.GetNumSamples(), wave.GetSampleRate(), cihear::kOutputRate);
    return plan.possible ? plan.length : 0;
}

std::unique_ptr<Signal> LoadConverted(WaveFile& wave, const std::function<bool()>& cancelled) {
    std::vector<short> frames;
    const SampleSource read = MonoSource(wave, frames);
    const SampleSource next = [&](double* samples, uint32_t count) {
        return !(cancelled && cancelled()) && read(samples, count);
    };
    return ResampleInBlocks(wave.GetNumSamples(), wave.GetSampleRate(), cihear::kOutputRate, next);
}

}  // namespace engine

namespace cihear {

WavSamples ReadWav(const std::string& path) {
    WavSamples result;
    WaveFile wave;
    result.status = engine::OpenWave(path.c_str(), wave);
    if (!result.status.ok()) {
        return result;
    }
    try {
        const uint32_t n = wave.GetNumSamples();
        result.samples.resize(n);
        std::vector<short> frames;
        const SampleSource read = engine::MonoSource(wave, frames);
        const uint32_t block = 1 << 16;
        for (uint32_t done = 0; done < n; done += std::min(block, n - done)) {
            if (!read(result.samples.data() + done, std::min(block, n - done))) {
                result.samples.clear();
                result.status = {Status::kBadInput, "could not read samples from file"};
                return result;
            }
        }
    } catch (const std::bad_alloc&) {
        result.samples.clear();
        result.status = {Status::kOutOfMemory, "not enough memory"};
        return result;
    }
    result.sampleRate = wave.GetSampleRate();
    return result;
}

Result SimulateWav(const std::string& path, const Settings& settings, const Options& options) {
    Result result;
    WaveFile wave;
    result.status = engine::OpenWave(path.c_str(), wave);
    if (result.status.ok()) {
        const std::string why = engine::Vanishing(wave.GetNumSamples(), wave.GetSampleRate());
        if (!why.empty()) {
            result.status = {Status::kBadInput, why};
        }
    }
    if (!result.status.ok()) {
        return result;
    }
    bool stopped = false;
    const std::function<bool()> cancelled = [&] {
        stopped = stopped || (options.cancelled && options.cancelled());
        return stopped;
    };
    try {
        return engine::SimulateLoading(
            engine::ConvertedLength(wave), [&] { return engine::LoadConverted(wave, cancelled); },
            settings, options);
    } catch (const BlockSimulation::LoadFailed&) {
        result.status = stopped ? Status{Status::kCancelled, "cancelled"}
                                : Status{Status::kBadInput, "could not read samples from file"};
    } catch (const std::bad_alloc&) {
        result.status = {Status::kOutOfMemory, "not enough memory"};
    }
    return result;
}

}  // namespace cihear
