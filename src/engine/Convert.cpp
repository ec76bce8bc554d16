// The program's input and output steps on samples held in memory.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "dsp/BlockResampler.h"
#include "engine/Engine.h"
#include "io/WaveOutput.h"
#include "signal/Signal.h"

namespace {

// Raising the rate holds every sample ceil(20000 / rate) times before filtering, so a file of a
// few kilobytes at a rate of a few hertz would ask for gigabytes of memory and hours of work.
// Holding is allowed up to 20 times (every rate from 1000 Hz up, where memory stays in
// proportion to the input), and beyond that only while the held signal stays within 2^24
// samples (14 minutes at 20000 Hz). A held signal must also fit 32-bit lengths.
const uint64_t maxHoldFactor = 20;
const uint64_t maxHeldSamples = uint64_t(1) << 24;

}  // namespace

namespace engine {

std::string Unconvertible(uint64_t frames, uint32_t rate) {
    std::ostringstream why;
    if (rate == 0) {
        why << "invalid sample rate (0 Hz)";
    } else if (rate < cihear::kOutputRate) {
        const double hold = std::ceil(static_cast<double>(cihear::kOutputRate) / rate);
        // Beyond 32-bit lengths the held signal cannot be made at all: the conversion would
        // give nothing and the run an empty output, so that is refused too.
        const double held = static_cast<double>(frames) * hold;
        if ((hold > maxHoldFactor && held > maxHeldSamples) || held > 4294967295.0) {
            why << "cannot convert " << frames << " samples at " << rate << " Hz to "
                << cihear::kOutputRate << " Hz: the sample rate is too low for that many samples";
        }
    }
    return why.str();
}

std::string Vanishing(uint64_t frames, uint32_t rate) {
    // The conversion's length (stages::PlanLower) would be 0.
    if (frames == 0 || rate <= cihear::kOutputRate ||
        static_cast<double>(frames) * (static_cast<double>(cihear::kOutputRate) / rate) >= 1.0) {
        return "";
    }
    std::ostringstream why;
    why << "cannot convert " << frames << " samples at " << rate << " Hz to " << cihear::kOutputRate
        << " Hz: the sample rate is too high for that few samples "
        << "(they last less than one sample at " << cihear::kOutputRate << " Hz)";
    return why.str();
}

std::unique_ptr<Signal> ToInternalRate(std::unique_ptr<Signal> signal,
                                       const std::function<bool()>& cancelled) {
    if (signal->GetSampleRate() == cihear::kOutputRate) {
        return signal;
    }
    // Converted in blocks, so that only the input and the result are held whole. The held
    // signal fits 32-bit lengths: larger ones are refused by Unconvertible.
    const double* x = signal->GetSamples();
    uint32_t taken = 0;
    const SampleSource next = [&](double* samples, uint32_t count) {
        if (cancelled && cancelled()) {
            return false;
        }
        std::copy(x + taken, x + taken + count, samples);
        taken += count;
        return true;
    };
    return ResampleInBlocks(signal->GetLength(), signal->GetSampleRate(), cihear::kOutputRate,
                            next);
}

}  // namespace engine

namespace cihear {

std::vector<int16_t> MixStereo16(const int16_t* interleaved, size_t frames) {
    // The pair is added as floats (exact for any two 16-bit values) and halved in double,
    // truncating toward zero: 1 and 2 give 1, -1 and -2 give -1.
    std::vector<int16_t> mono(frames);
    for (size_t i = 0; i < frames; i++) {
        const float sum =
            static_cast<float>(interleaved[2 * i]) + static_cast<float>(interleaved[2 * i + 1]);
        mono[i] = static_cast<int16_t>(static_cast<double>(sum) / 2.0);
    }
    return mono;
}

std::vector<double> FromPcm16(const int16_t* samples, size_t count) {
    std::vector<double> x(count);
    for (size_t i = 0; i < count; i++) {
        x[i] = samples[i] / 32768.0;
    }
    return x;
}

// ceil(y + 0.5) - 0.5 truncated toward zero, y = 32768 x. That is not rounding to nearest; it
// moves negative halves toward zero, and 1.0 wraps to -32768. Values beyond the 16-bit range
// keep the low 16 bits of that integer (two's complement), whatever its size; a NaN or an
// infinity gives 0.
int16_t ToPcm16(double sample) {
    const double y = sample * 32768.0;
    const double c = std::ceil(y + 0.5);
    if (std::fabs(y) < 0x1p52) {
        // The same steps in integers: c - 0.5 is exact and its truncation k a whole number of at
        // most 53 bits, whose remainder modulo 65536 (with the sign of k, as fmod gives it) the
        // integer division gives directly, without fmod's cost.
        const int64_t k = static_cast<int64_t>(c - 0.5);
        const int64_t low = k % 65536;
        const int bits = static_cast<int>(low < 0 ? low + 65536 : low);
        return static_cast<int16_t>(bits < 0x8000 ? bits : bits - 0x10000);
    }
    const double low = std::fmod(std::trunc(c - 0.5), 65536.0);  // exact, sign of the integer
    if (!std::isfinite(low)) {
        return 0;
    }
    const int bits = static_cast<int>(low < 0.0 ? low + 65536.0 : low);
    return static_cast<int16_t>(bits < 0x8000 ? bits : bits - 0x10000);
}

void ToPcm16(const double* samples, size_t count, int16_t* out) {
    for (size_t i = 0; i < count; i++) {
        out[i] = ToPcm16(samples[i]);
    }
}

Status WriteWav16(const std::string& path, const int16_t* samples, size_t count) {
    switch (WriteMonoWave16(path.c_str(), samples, count, kOutputRate)) {
        case WaveWriteResult::Written:
            return Status();
        case WaveWriteResult::CouldNotOpen:
            return {Status::kCannotOpen, "could not open file to write"};
        case WaveWriteResult::CouldNotWrite:
            break;
    }
    return {Status::kCannotWrite, "could not write samples to file"};
}

}  // namespace cihear
