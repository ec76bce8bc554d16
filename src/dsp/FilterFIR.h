#pragma once

#include <cstdint>

#include "dsp/Kernels.h"
#include "signal/DSP.h"

// Fixed-length FIR engine: 100 taps held in the object, h[k] weighting the input sample k
// positions back. The designs below fill the taps with a Hamming-windowed carrier at the band's
// centre, centred on tap 50, and scale them to unit amplitude gain at that centre.
//
// It owns nothing and has no virtual destructor; the destructor is protected so that a design
// can only be deleted through its own (final) class.
class FilterFIR {
public:
    static constexpr uint32_t num_taps = kernel_sizes::kTaps;

    FilterFIR(const FilterFIR&) = delete;
    FilterFIR& operator=(const FilterFIR&) = delete;

    // A new signal of the input's length and rate; the first num_taps samples are 0 and the
    // band lags the input by 50 samples.
    Signal* Run(Signal* input);

    // Scales the taps to unit amplitude gain at center_freq, measured on a test tone. Taps
    // whose test response carries no energy are left as they are.
    virtual void Normalize();

    // The tap loop over raw arrays: y[0..num_taps-1] = 0, then for each later n the sum of
    // x[n-k]*h[k] accumulated from 0 in increasing k. x and y must not overlap.
    static void Convolve(const double* h, const double* x, double* y, uint32_t length);

    const double* GetCoeffs() const { return coeffs; }
    double GetBandwidth() const { return bandwidth; }
    double GetCenterFreq() const { return center_freq; }
    uint32_t GetSampleRate() const { return sample_rate; }

protected:
    enum class Carrier { Sine, Cosine };

    // Only the designs construct the engine; the taps start at 0.
    FilterFIR(double bandwidth, double center_freq, unsigned long sample_rate);
    ~FilterFIR() = default;

    // Windows the carrier into the taps, then normalises.
    void Design(Carrier carrier);

    double coeffs[num_taps];
    double bandwidth;
    double center_freq;
    uint32_t sample_rate;
};

// Quadrature (sine) band filter of the analytic-signal pair.
class FilterHilbertSin final : public FilterFIR {
public:
    FilterHilbertSin(double bandwidth, double center_freq, unsigned long sample_rate);
};

// In-phase (cosine) band filter of the analytic-signal pair.
class FilterHilbertCos final : public FilterFIR {
public:
    FilterHilbertCos(double bandwidth, double center_freq, unsigned long sample_rate);
};
