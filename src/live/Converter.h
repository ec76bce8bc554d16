#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "live/WholeFactor.h"

struct soxr;

namespace live {

// A sample-rate converter for a stream of mono float samples, at a quality that leaves 20 Hz -
// 9 kHz untouched (0 dB within 0.04 dB), aliases and images below -90 dB.
//
// Between 20000 Hz and a whole multiple of it (40000, 60000 Hz...), a filter of its own
// (WholeFactorConverter): a sample at a time and minimum phase, it delays by 0.15 ms. None
// between equal rates.
//
// Between 20000 Hz and a rate above 40000 Hz (44100, 48000, 96000 Hz), that filter between
// 20000 and 40000 Hz, and libsoxr between 40000 Hz and the other rate. Between other rates,
// libsoxr alone. libsoxr filters in blocks, through transforms, and its output comes in bursts:
// the queue that makes the device's output steady costs the longest (a block at the rate its
// transforms run at, 40000 Hz rather than 20000 Hz on this path, which halves the bursts).
// libsoxr's filter: 0 dB to 0.87 of the lower rate's Nyquist frequency and less than 0.04 dB
// down at 0.9 of it, stop band from 1.1 of it (at 20000 Hz, 11 kHz: aliases and images land
// above 9 kHz), 16 bits of precision (about -96 dB), minimum phase and the smallest transform
// sizes, which give the shortest blocks. (A pass band to 0.88 or more needs longer
// transforms: twice the delay.)
class Converter {
public:
    // Throws std::runtime_error when libsoxr refuses the rates.
    Converter(double from, double to);
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // The whole factor between two rates one of which is 20000 Hz (1 when they are equal), or 0.
    static unsigned WholeFactor(double from, double to);

    // Takes count samples and writes what is ready (at most capacity) to out; returns how many.
    // The output is aligned with the input: its filter delay is not in the stream, only the
    // buffering that makes it arrive late.
    size_t Process(const float* in, size_t count, float* out, size_t capacity);
    void Clear();
    // Whether its output comes in bursts (through libsoxr), whose pattern may take long to
    // recur, rather than a steady number of samples per sample in.
    bool Bursts() const { return resampler != nullptr; }

private:
    size_t Resample(const float* in, size_t count, float* out, size_t capacity);

    soxr* resampler = nullptr;
    std::unique_ptr<WholeFactorConverter> whole;
    bool wholeFirst = false;     // both: the whole factor's conversion comes first
    std::vector<float> between;  // both: the samples between the two, at 40000 Hz
};

}  // namespace live
