// Loading a WAV file into the simulation's signal and saving the result.

#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/AtomicOutput.h"
#include "app/Global.h"
#include "app/cli.h"
#include "dsp/Resampler.h"
#include "signal/Signal.h"
#include "wav/WaveFile.h"

namespace {

void ReportError(const std::string& text) {
    std::cerr << "error: " << text << std::endl;
}

// Raising the rate holds every sample ceil(20000 / rate) times before filtering, so a file of a
// few kilobytes at a rate of a few hertz would ask for gigabytes of memory and hours of work.
// Holding is allowed up to 20 times (every rate from 1000 Hz up, where memory stays in
// proportion to the file), and beyond that only while the held signal stays within 2^24
// samples (14 minutes at 20000 Hz).
const uint64_t maxHoldFactor = 20;
const uint64_t maxHeldSamples = uint64_t(1) << 24;

bool TooLowToConvert(uint32_t frames, uint32_t rate) {
    if (rate == 0 || rate >= gInternalSampleRate) {
        return false;
    }
    const double hold = std::ceil(static_cast<double>(gInternalSampleRate) / rate);
    return hold > maxHoldFactor && frames * hold > maxHeldSamples;
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
        why << "invalid sample rate (0 Hz)";
    } else if (wave.GetAvailableDataLength() < wave.GetDataLength()) {
        why << "file is truncated: the data chunk declares " << wave.GetDataLength()
            << " bytes but only " << wave.GetAvailableDataLength() << " follow";
    } else if (wave.GetBitsPerChannel() != 16 || wave.GetBytesPerSample() != 2 * channels) {
        // Only 16-bit frames of one sample per channel are read.
        why << "could not read samples from file";
    } else if (TooLowToConvert(wave.GetNumSamples(), wave.GetSampleRate())) {
        why << "cannot convert " << wave.GetNumSamples() << " samples at " << wave.GetSampleRate()
            << " Hz to " << gInternalSampleRate
            << " Hz: the sample rate is too low for that many samples";
    }
    return why.str();
}

// Reads the n stereo frames as their mono mix. The pair is added as floats (exact for any two
// 16-bit values) and halved in double, truncating toward zero: 1 and 2 give 1, -1 and -2 give -1.
bool ReadStereoAsMono(WaveFile& wave, short* mono, uint32_t n) {
    for (uint32_t i = 0; i < n; i++) {
        short left = 0;
        short right = 0;
        if (!wave.ReadSample(left) || !wave.ReadSample(right)) {
            return false;
        }
        const float sum = static_cast<float>(left) + static_cast<float>(right);
        mono[i] = static_cast<short>(static_cast<double>(sum) / 2.0);
    }
    return true;
}

// The 16-bit value stored for sample x: ceil(y + 0.5) - 0.5 truncated toward zero, y = 32768 x.
// That is not rounding to nearest; it moves negative halves toward zero, and 1.0 wraps to
// -32768. Values beyond the 16-bit range keep the low 16 bits of that integer (two's
// complement), whatever its size; a NaN or an infinity gives 0.
short ToStoredSample(double x) {
    const double y = x * 32768.0;
    const double c = std::ceil(y + 0.5);
    const double low = std::fmod(std::trunc(c - 0.5), 65536.0);  // exact, sign of the integer
    if (!std::isfinite(low)) {
        return 0;
    }
    const int bits = static_cast<int>(low < 0.0 ? low + 65536.0 : low);
    return static_cast<short>(bits < 0x8000 ? bits : bits - 0x10000);
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
    std::vector<short> samples(n);
    const bool read = wave.GetNumChannels() == 1 ? wave.ReadSamples(samples.data(), n)
                                                 : ReadStereoAsMono(wave, samples.data(), n);
    if (!read) {
        ReportError("could not read samples from file");
        return nullptr;
    }
    double* x = signal->GetSamples();
    for (uint32_t i = 0; i < n; i++) {
        x[i] = samples[i] / 32768.0;
    }

    if (rate != gInternalSampleRate) {
        Resampler resampler;
        // The held signal fits 32-bit lengths: larger ones were refused above.
        signal.reset(resampler.Run(signal.get(), gInternalSampleRate));
    }
    return signal.release();
}

bool save(Signal* signal, const char* name) {
    const uint32_t n = signal->GetLength();
    std::vector<short> samples(n);
    const double* x = signal->GetSamples();
    for (uint32_t i = 0; i < n; i++) {
        samples[i] = ToStoredSample(x[i]);
    }

    AtomicOutput output(name);
    WaveFile wave;
    if (!output.Ready() || !wave.OpenWrite(output.Path())) {
        ReportError("could not open file to write");
        return false;
    }
    wave.SetupFormat(static_cast<int>(gInternalSampleRate),
                     static_cast<short>(gInternalBitsPerSample),
                     static_cast<short>(gNumInternalChanels));
    // Close writes the final header and flushes: only then is the file complete.
    if ((n > 0 && !wave.WriteSamples(samples.data(), n)) || !wave.Close() || !output.Commit()) {
        ReportError("could not write samples to file");
        return false;
    }
    return true;
}
