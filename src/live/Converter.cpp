#include "live/Converter.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace live {

namespace {

const double kStreamRate = 20000;
const unsigned kLargestWholeFactor = 8;
// Between libsoxr and the whole-factor filter: the rate, and the input taken at a time (the
// samples between, whatever libsoxr's bursts, fit in kBetween).
const double kBetweenRate = 40000;
const size_t kSlice = 2048, kBetween = 4 * kSlice + 16384;
// From 40000 Hz up, libsoxr's filter at 19 bits is the longest its smallest transforms take,
// which leaves the shortest blocks: its bursts are 1.6 ms at 48000 Hz instead of 1.8 ms at 16
// bits (and 20 bits need larger transforms: 3.6 ms).
const double kUpPrecision = 19;

// precision: in bits, 16 or more.
soxr* Create(double from, double to, double precision = 16) {
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_ROLLOFF_SMALL);
    quality.precision = precision;
    quality.phase_response = 0;  // minimum phase
    quality.passband_end = 0.87;
    quality.stopband_begin = 1.1;
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = 8;
    runtime.log2_large_dft_size = 8;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_error_t error = nullptr;
    soxr* resampler = soxr_create(from, to, 1, &error, &io, &quality, &runtime);
    if (error || !resampler) {
        throw std::runtime_error(std::string("cannot convert the sample rate: ") +
                                 (error ? error : "libsoxr failed"));
    }
    return resampler;
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
    if (const unsigned factor = WholeFactor(from, to)) {
        if (factor > 1) {
            whole = std::make_unique<WholeFactorConverter>(factor, to > from);
        }
        return;
    }
    const double low = std::min(from, to), high = std::max(from, to);
    if (low == kStreamRate && high > kBetweenRate) {
        wholeFirst = to > from;
        whole = std::make_unique<WholeFactorConverter>(unsigned(kBetweenRate / low), wholeFirst);
        between.assign(kBetween, 0.0f);
        resampler =
            wholeFirst ? Create(kBetweenRate, to, kUpPrecision) : Create(from, kBetweenRate);
        return;
    }
    resampler = Create(from, to);
}

Converter::~Converter() {
    if (resampler) {
        soxr_delete(resampler);
    }
}

size_t Converter::Resample(const float* in, size_t count, float* out, size_t capacity) {
    size_t written = 0;
    // The output has room for what any block gives; the loop only guards the contract.
    for (size_t taken = 0; taken < count && written < capacity;) {
        size_t used = 0, done = 0;
        soxr_process(resampler, in + taken, count - taken, &used, out + written, capacity - written,
                     &done);
        taken += used;
        written += done;
        if (used == 0 && done == 0) {
            break;
        }
    }
    return written;
}

size_t Converter::Process(const float* in, size_t count, float* out, size_t capacity) {
    if (whole && !resampler) {
        return whole->Process(in, count, out, capacity);
    }
    if (!whole && resampler) {
        return Resample(in, count, out, capacity);
    }
    if (!whole) {  // equal rates
        const size_t n = std::min(count, capacity);
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
        soxr_clear(resampler);
    }
}

}  // namespace live
