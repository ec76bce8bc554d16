// Loading a WAV file into the simulation's signal and saving the result.

#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/Global.h"
#include "app/cli.h"
#include "engine/Engine.h"
#include "signal/Signal.h"
#include "wav/WaveFile.h"

namespace {

void ReportError(const std::string& text) {
    std::cerr << "error: " << text << std::endl;
}

// Why the opened file cannot be loaded, or an empty text when it can. Checked before any
// sample memory is reserved, since the header alone decides how much that would be.
std::string Unloadable(const WaveFile& wave) {
    std::ostringstream why;
    const unsigned channels = wave.GetNumChannels();
    if (channels != 1 && channels != 2) {
        why << "unsupported number of channels (" << channels
            << "); only mono and stereo are supported";
    } else if (wave.GetSampleRate() == 0) {
        why << engine::Unconvertible(wave.GetNumSamples(), 0);
    } else if (wave.GetAvailableDataLength() < wave.GetDataLength()) {
        why << "file is truncated: the data chunk declares " << wave.GetDataLength()
            << " bytes but only " << wave.GetAvailableDataLength() << " follow";
    } else if (wave.GetBitsPerChannel() != 16 || wave.GetBytesPerSample() != 2 * channels) {
        // Only 16-bit frames of one sample per channel are read.
        why << "could not read samples from file";
    } else {
        why << engine::Unconvertible(wave.GetNumSamples(), wave.GetSampleRate());
    }
    return why.str();
}

}  // namespace

Signal* read(const char* name) {
    WaveFile wave;
    if (!wave.OpenRead(name)) {
        ReportError("could not open file");
        return nullptr;
    }
    const std::string why = Unloadable(wave);
    if (!why.empty()) {
        ReportError(why);
        return nullptr;
    }

    const uint32_t n = wave.GetNumSamples();
    const uint32_t rate = wave.GetSampleRate();
    std::unique_ptr<Signal> signal(new Signal(n, rate));
    const uint32_t channels = wave.GetNumChannels();
    std::vector<short> frames(static_cast<size_t>(n) * channels);
    if (!wave.ReadSamples(frames.data(), n)) {  // n frames of `channels` samples
        ReportError("could not read samples from file");
        return nullptr;
    }
    if (channels == 2) {
        std::vector<int16_t> mono = cihear::MixStereo16(frames.data(), n);
        frames.assign(mono.begin(), mono.end());
    }
    const std::vector<double> x = cihear::FromPcm16(frames.data(), n);
    std::copy(x.begin(), x.end(), signal->GetSamples());
    return engine::ToInternalRate(std::move(signal)).release();
}

bool save(Signal* signal, const char* name) {
    return SaveSamples(signal->GetSamples(), signal->GetLength(), name);
}

bool SaveSamples(const double* x, uint32_t n, const char* name) {
    std::vector<int16_t> samples(n);
    for (uint32_t i = 0; i < n; i++) {
        samples[i] = cihear::ToPcm16(x[i]);
    }

    // The writer every front end uses: the file appears whole or not at all.
    const cihear::Status written = cihear::WriteWav16(name, samples.data(), n);
    if (!written.ok()) {
        ReportError(written.message);
        return false;
    }
    return true;
}
