#include "live/Converter.h"

#include <soxr.h>

#include <stdexcept>

namespace live {

Converter::Converter(double from, double to) {
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
    soxr_delete(resampler);
}

size_t Converter::Process(const float* in, size_t count, float* out, size_t capacity) {
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
    soxr_clear(resampler);
}

}  // namespace live
