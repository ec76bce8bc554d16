#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "live/WholeFactor.h"

struct SRC_STATE_tag;

namespace live {

// A sample-rate converter for a stream of mono float samples between 20000 Hz and a device's
// rate, at a quality that leaves 20 Hz - 9 kHz untouched (0 dB within 0.01 dB), aliases and
// images below -90 dB.
//
// Between 20000 Hz and a whole multiple of it (40000, 60000 Hz...), a filter of its own
// (WholeFactorConverter): a sample at a time and minimum phase, it delays by 0.15 ms. None
// between equal rates.
//
// Between 20000 Hz and other rates (44100, 48000, 96000 Hz...), that filter between 20000 and
// 40000 Hz, and libsamplerate between 40000 Hz and the device. The whole-factor filter does the
// steep part (nothing above 11 kHz passes at 40000 Hz), so libsamplerate needs only to keep what
// lies below 11 kHz and what its interpolation would fold there: its fastest windowed sinc does
// (flat to 0.8 of the lower Nyquist frequency, about -100 dB beyond), 0.6 ms each way at 44100
// and 48000 Hz, linear phase. It works a sample at a time too, so its output comes steadily, a
// frame more or less per block, not in bursts. Below 32000 Hz its next filter (flat to 0.9 of
// the lower Nyquist frequency) keeps 9 kHz untouched where the device can carry it.
class Converter {
public:
    // One of the rates is 20000 Hz. Throws std::runtime_error when the other is out of reach.
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
    // Whether it goes through libsamplerate, whose output position is a running sum of
    // fractions: its rounding may move an output by a frame after a long run.
    bool Fractional() const { return resampler != nullptr; }

private:
    size_t Resample(const float* in, size_t count, float* out, size_t capacity);

    SRC_STATE_tag* resampler = nullptr;
    double ratio = 1;  // libsamplerate's: its output rate over its input rate
    std::unique_ptr<WholeFactorConverter> whole;
    bool wholeFirst = false;     // both: the whole factor's conversion comes first
    std::vector<float> between;  // both: the samples between the two, at 40000 Hz
};

}  // namespace live
