#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "live/WholeFactor.h"

struct soxr;

namespace live {

// A sample-rate converter for a stream of mono float samples, at a quality that leaves 20 Hz -
// 9 kHz untouched.
//
// Between 20000 Hz and a whole multiple of it (40000, 60000 Hz...), a filter of its own
// (WholeFactorConverter): a sample at a time and minimum phase, it delays by a fraction of a
// millisecond. None between equal rates.
//
// Between other rates, libsoxr: 0 dB to 0.87 of the lower rate's Nyquist frequency (8.7 kHz at
// 20000 Hz) and less than 0.04 dB down at 9 kHz, stop band from 1.1 of it (11 kHz, so that
// aliases and images land above 9 kHz), 16 bits of precision (about -96 dB), minimum phase and
// the smallest transform sizes, which give the least buffering. (A pass band to 0.88 or more
// needs longer transforms: twice the delay at 48000 Hz.) Its transforms work on blocks, and its
// output comes in bursts of up to about 3.5 ms at 20000 Hz in and 2.4 ms out: the queue that
// makes the device's output steady costs their sum.
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

private:
    soxr* resampler = nullptr;
    std::unique_ptr<WholeFactorConverter> whole;
};

}  // namespace live
