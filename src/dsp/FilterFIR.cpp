#include "dsp/FilterFIR.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "dsp/Kernels.h"

namespace {

const double pi = 3.141592653589793;
const double sqrt2 = 1.4142135623730951;

// Length of the normalisation test tone; its first num_taps response samples are start-up.
const uint32_t testToneLength = 1000;

// Even window length for a band width: 1.53*fs/B, at most num_taps. A band without a finite
// positive width (zero, not a number, infinite) gets the longest window; a negative width is
// taken by its magnitude.
int32_t WindowLength(double bandwidth, double fs) {
    const double width = std::fabs(bandwidth);
    int32_t n = static_cast<int32_t>(FilterFIR::num_taps);
    if (width > 0.0 && std::isfinite(width)) {
        const double quotient = fs * 1.53 / width;
        if (quotient < static_cast<double>(FilterFIR::num_taps)) {
            n = static_cast<int32_t>(quotient);
        }
    }
    if (n % 2 != 0) {
        n = n + 1;
    }
    return n;
}

}  // namespace

FilterFIR::FilterFIR(double bandwidth, double center_freq, unsigned long sample_rate)
    : coeffs(),
      bandwidth(bandwidth),
      center_freq(center_freq),
      sample_rate(static_cast<uint32_t>(sample_rate)) {}

void FilterFIR::Design(Carrier carrier) {
    const double fs = static_cast<double>(sample_rate);
    const double fc = center_freq;
    const int32_t n = WindowLength(bandwidth, fs);
    std::fill(coeffs, coeffs + num_taps, 0.0);
    // n is even and at most num_taps, so j runs over 50 - n/2 .. 49 + n/2, always inside the
    // taps, with the window's peak (i = n/2) on tap 50. The carrier's phase counts from i = 0.
    for (int32_t i = 0; i < n; i++) {
        const int32_t j = i - n / 2 + 50;
        const double w = 0.54 - 0.46 * std::cos(2.0 * pi * i / n);
        const double phase = 2.0 * pi * i * fc / fs;
        const double c = (carrier == Carrier::Sine) ? std::sin(phase) : std::cos(phase);
        coeffs[j] = c * w;
    }
    // A centre frequency or rate that leaves the carrier undefined gives no usable band.
    if (!std::all_of(coeffs, coeffs + num_taps, [](double h) { return std::isfinite(h); })) {
        std::fill(coeffs, coeffs + num_taps, 0.0);
    }
    Normalize();
}

void FilterFIR::Normalize() {
    const double fs = static_cast<double>(sample_rate);
    std::vector<double> tone(testToneLength);
    for (uint32_t i = 0; i < testToneLength; i++) {
        tone[i] = std::sin(2.0 * pi * i * center_freq / fs);
    }
    std::vector<double> response(testToneLength);
    Convolve(coeffs, tone.data(), response.data(), testToneLength);
    double energy = 0.0;
    for (uint32_t m = num_taps; m < testToneLength; m++) {
        energy = energy + response[m] * response[m];
    }
    energy = energy / static_cast<double>(testToneLength - num_taps);
    // No gain can bring a silent response to unit amplitude: keep the taps.
    if (!(energy > 0.0) || !std::isfinite(energy)) {
        return;
    }
    const double g = 1.0 / (std::sqrt(energy) * sqrt2);
    for (uint32_t k = 0; k < num_taps; k++) {
        coeffs[k] = coeffs[k] * g;
    }
}

void FilterFIR::Convolve(const double* h, const double* x, double* y, uint32_t length) {
    kernels::Convolve(h, x, y, length);
}

Signal* FilterFIR::Run(Signal* input) {
    const uint32_t length = input->GetLength();
    std::unique_ptr<Signal> output(new Signal(length, input->GetSampleRate()));
    Convolve(coeffs, input->GetSamples(), output->GetSamples(), length);
    return output.release();
}

FilterHilbertSin::FilterHilbertSin(double bandwidth, double center_freq, unsigned long sample_rate)
    : FilterFIR(bandwidth, center_freq, sample_rate) {
    Design(Carrier::Sine);
}

FilterHilbertCos::FilterHilbertCos(double bandwidth, double center_freq, unsigned long sample_rate)
    : FilterFIR(bandwidth, center_freq, sample_rate) {
    Design(Carrier::Cosine);
}
