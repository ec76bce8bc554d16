#pragma once

// Shared by the end-to-end tests: input files built byte by byte, the expected output header,
// and process limits set around one run of the program.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "wav/WavTestUtil.h"

namespace runtest {

using wavtest::Bytes;

// A 16-bit PCM file; samples interleaved when there are two channels.
inline Bytes Wav16(uint16_t channels, uint32_t rate, const std::vector<short>& samples) {
    using namespace wavtest;
    return Wave(Cat({Fmt(channels, rate, 16), Chunk("data", Samples16(samples))}));
}

// n frames of two partials, different on each channel, well inside full scale.
inline std::vector<short> Tone(uint32_t rate, uint32_t n, uint16_t channels = 1) {
    const double pi = 3.14159265358979323846;
    std::vector<short> out;
    for (uint32_t i = 0; i < n; i++) {
        const double t = double(i) / rate;
        for (uint16_t c = 0; c < channels; c++) {
            const double v = 0.4 * std::sin(2 * pi * (440 + 100 * c) * t) +
                             0.2 * std::sin(2 * pi * (1700 - 300 * c) * t);
            out.push_back(static_cast<short>(std::lround(v * 32767)));
        }
    }
    return out;
}

// The canonical 44-byte header of a 16-bit mono 20000 Hz file of n samples.
inline Bytes OutputHeader(uint32_t n) {
    using namespace wavtest;
    return Cat(
        {Id("RIFF"), LE32(36 + 2 * n), Id("WAVE"), Fmt(1, 20000, 16), Id("data"), LE32(2 * n)});
}

// The samples after a 44-byte header.
inline std::vector<short> SamplesAfterHeader(const Bytes& file) {
    std::vector<short> out;
    for (size_t at = 44; at + 1 < file.size(); at += 2) {
        const int v = file[at] | file[at + 1] << 8;
        out.push_back(static_cast<short>(v < 0x8000 ? v : v - 0x10000));
    }
    return out;
}

inline int PeakMagnitude(const std::vector<short>& samples) {
    int peak = 0;
    for (short s : samples) {
        peak = std::max(peak, std::abs(int(s)));
    }
    return peak;
}

inline std::set<std::string> Entries(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

inline mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Lowers a soft resource limit for as long as the object lives; child processes started
// meanwhile inherit it. ok() tells whether the limit is in force.
class ScopedLimit {
public:
    ScopedLimit(int resource, rlim_t soft) : resource(resource) {
        ok_ = getrlimit(resource, &saved) == 0;
        rlimit lowered = saved;
        lowered.rlim_cur = soft;
        ok_ = ok_ && setrlimit(resource, &lowered) == 0;
    }
    ~ScopedLimit() {
        if (ok_) {
            setrlimit(resource, &saved);
        }
    }
    bool ok() const { return ok_; }

private:
    int resource;
    rlimit saved{};
    bool ok_ = false;
};

}  // namespace runtest
