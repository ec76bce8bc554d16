#include "live/Converter.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace live {

namespace {

const double kStreamRate = 20000;
const unsigned kLargestWholeFactor = 8;
// Between libsamplerate and the whole-factor filter: the rate, and the input taken at a time
// (what comes of it fits in kBetween).
const double kBetweenRate = 40000;
const size_t kSlice = 2048, kBetween = 4 * kSlice + 16384;
// From this device rate up, libsamplerate's shortest filter (its pass band 0.8 of the lower
// Nyquist frequency) keeps 9 kHz untouched; below it, the next (0.9 of it).
const double kShortestFrom = 32000;

SRC_STATE* Create(double device) {
    int error = 0;
    SRC_STATE* state =
        src_new(device >= kShortestFrom ? SRC_SINC_FASTEST : SRC_SINC_MEDIUM_QUALITY, 1, &error);
    if (!state) {
        throw std::runtime_error(std::string("cannot convert the sample rate: ") +
                                 src_strerror(error));
    }
    return state;
}

}  // namespace

unsigned Converter::WholeFactor(double from, double to) {
    const double low = std::min(from, to), high = std::max(from, to);
    if (low != kStreamRate) {
        return 0;
    }
    const double factor = high / low;
    return factor == std::floor(factor) && factor <= kLargestWholeFactor
               ? static_cast<unsigned>(factor)
               : 0;
}

Converter::Converter(double from, double to) {
    if (from != kStreamRate && to != kStreamRate) {
        throw std::runtime_error("cannot convert the sample rate: one side must be 20000 Hz");
    }
    if (const unsigned factor = WholeFactor(from, to)) {
        if (factor > 1) {
            whole = std::make_unique<WholeFactorConverter>(factor, to > from);
        }
        return;
    }
    const double device = from == kStreamRate ? to : from;
    if (!(device > 0) || !std::isfinite(device) || !src_is_valid_ratio(device / kBetweenRate)) {
        throw std::runtime_error("cannot convert the sample rate: " + std::to_string(device) +
                                 " Hz is out of reach");
    }
    wholeFirst = to > from;
    whole =
        std::make_unique<WholeFactorConverter>(unsigned(kBetweenRate / kStreamRate), wholeFirst);
    between.assign(kBetween, 0.0f);
    ratio = wholeFirst ? to / kBetweenRate : kBetweenRate / from;
    resampler = Create(device);
}

Converter::~Converter() {
    if (resampler) {
        src_delete(resampler);
    }
}

size_t Converter::Resample(const float* in, size_t count, float* out, size_t capacity) {
    size_t written = 0;
    // The output has room for what any block gives; the loop only guards the contract.
    for (size_t taken = 0; taken < count && written < capacity;) {
        SRC_DATA data{};
        data.data_in = in + taken;
        data.input_frames = static_cast<long>(count - taken);
        data.data_out = out + written;
        data.output_frames = static_cast<long>(capacity - written);
        data.src_ratio = ratio;
        if (src_process(resampler, &data) != 0) {
            break;
        }
        taken += static_cast<size_t>(data.input_frames_used);
        written += static_cast<size_t>(data.output_frames_gen);
        if (data.input_frames_used == 0 && data.output_frames_gen == 0) {
            break;
        }
    }
    return written;
}

size_t Converter::Process(const float* in, size_t count, float* out, size_t capacity) {
    if (!resampler) {
        if (whole) {
            return whole->Process(in, count, out, capacity);
        }
        const size_t n = std::min(count, capacity);  // equal rates
        std::copy(in, in + n, out);
        return n;
    }
    size_t written = 0;
    for (size_t taken = 0; taken < count; taken += kSlice) {
        const size_t n = std::min(kSlice, count - taken);
        if (wholeFirst) {
            const size_t m = whole->Process(in + taken, n, between.data(), between.size());
            written += Resample(between.data(), m, out + written, capacity - written);
        } else {
            const size_t m = Resample(in + taken, n, between.data(), between.size());
            written += whole->Process(between.data(), m, out + written, capacity - written);
        }
    }
    return written;
}

void Converter::Clear() {
    if (whole) {
        whole->Clear();
    }
    if (resampler) {
        src_reset(resampler);
    }
}

}  // namespace live
