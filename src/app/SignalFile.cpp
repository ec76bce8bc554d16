// Loading a WAV file into the simulation's signal and saving the result.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/cli.h"
#include "dsp/Parallel.h"
#include "engine/Engine.h"
#include "signal/Signal.h"
#include "wav/WaveFile.h"

namespace {

void ReportError(const std::string& text) {
    std::cerr << "error: " << text << std::endl;
}

}  // namespace

bool OpenInput(const char* name, OpenedInput& input) {
    const cihear::Status opened = engine::OpenWave(name, input.wave);
    if (!opened.ok()) {
        ReportError(opened.message);
        return false;
    }
    input.length = engine::ConvertedLength(input.wave);
    return true;
}

std::unique_ptr<Signal> LoadInput(OpenedInput& input) {
    // The frames are read, mixed and scaled a block at a time, straight into the conversion to
    // the internal rate: only the converted signal is held whole.
    std::unique_ptr<Signal> signal = engine::LoadConverted(input.wave, {});
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
        const uint64_t begin = parallel::SliceStart(n, k, parts);
        cihear::ToPcm16(x + begin, parallel::SliceStart(n, k + 1, parts) - begin,
                        samples.get() + begin);
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
