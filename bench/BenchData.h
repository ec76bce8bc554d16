#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "signal/Signal.h"

// Inputs of the benchmarks, the same in every run.

namespace bench {

constexpr uint32_t kRate = 20000;
constexpr uint32_t kTenSeconds = 10 * kRate;

// A voice-like sound: a gliding harmonic series with a syllable-rate amplitude swing and a
// little noise, at the given rate.
inline std::unique_ptr<Signal> SpeechLike(uint32_t length, uint32_t rate = kRate) {
    std::unique_ptr<Signal> s(new Signal(length, rate));
    const double pi = 3.141592653589793;
    uint32_t noise = 12345;
    double phase = 0.0;
    for (uint32_t i = 0; i < length; i++) {
        const double t = static_cast<double>(i) / rate;
        phase += 2.0 * pi * (120.0 + 40.0 * std::sin(2.0 * pi * 0.7 * t)) / rate;
        double v = 0.0;
        for (int h = 1; h < 30; h++) {
            v += std::sin(h * phase) / h;
        }
        noise = noise * 1664525u + 1013904223u;
        const double hiss = static_cast<double>(noise >> 8) / 16777216.0 - 0.5;
        s->Set(i, 0.1 * (0.5 + 0.5 * std::sin(2.0 * pi * 3.3 * t)) * v + 0.02 * hiss);
    }
    return s;
}

// n copies of arrays of the given length, and the pointers to them that the kernels take.
struct Channels {
    Channels(uint32_t n, const Signal& pattern)
        : data(n, std::vector<double>(pattern.GetSamples(),
                                      pattern.GetSamples() + pattern.GetLength())),
          pointers(n) {
        for (uint32_t c = 0; c < n; c++) {
            for (double& v : data[c]) {
                v = v * (1.0 + 0.1 * c);  // not all equal
            }
            pointers[c] = data[c].data();
        }
    }
    void CopyFrom(const Channels& other) {
        for (size_t c = 0; c < data.size(); c++) {
            data[c] = other.data[c];
        }
    }
    std::vector<std::vector<double>> data;
    std::vector<double*> pointers;
};

}  // namespace bench
