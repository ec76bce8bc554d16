#include "live/Converter.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace live {

namespace {

const double kStreamRate = 20000;
const unsigned kLargestWholeFactor = 8;

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
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_ROLLOFF_SMALL);
    quality.precision = 16;
    quality.phase_response = 0;  // minimum phase
    quality.passband_end = 0.87;
    quality.stopband_begin = 1.1;
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = 8;
    runtime.log2_large_dft_size = 8;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_error_t error = nullptr;
    resampler = soxr_create(from, to, 1, &error, &io, &quality, &runtime);
    if (error || !resampler) {
        throw std::runtime_error(std::string("cannot convert the sample rate: ") +
                                 (error ? error : "libsoxr failed"));
    }
}

Converter::~Converter() {
    if (resampler) {
        soxr_delete(resampler);
    }
}

size_t Converter::Process(const float* in, size_t count, float* out, size_t capacity) {
    if (whole) {
        return whole->Process(in, count, out, capacity);
    }
    if (!resampler) {  // equal rates
        const size_t n = std::min(count, capacity);
        std::copy(in, in + n, out);
        return n;
    }
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

void Converter::Clear() {
    if (whole) {
        whole->Clear();
    } else if (resampler) {
        soxr_clear(resampler);
    }
}

}  // namespace live
