#pragma once

#include <cstdint>
#include <memory>

#include "signal/DSP.h"

// Recursive filter engine: a direct-form I difference equation with num_coeffs feed-forward
// (b) and feedback (a) coefficients. The designs below fill the coefficients once, in their
// constructors; Run keeps no state, so one filter may serve many signals in turn.
class FilterIIR {
public:
    FilterIIR(const FilterIIR&) = delete;
    FilterIIR& operator=(const FilterIIR&) = delete;
    virtual ~FilterIIR() = default;

    // A new signal of the input's length and rate; the first num_coeffs samples are 0.
    Signal* Run(Signal* input);

    // The difference equation over raw arrays: y[0..num_coeffs-1] = 0, then for each later n,
    // acc = b[0]*x[n] followed by acc = (b[k]*x[n-k] - a[k]*y[n-k]) + acc for k = 1, 2, ...
    // x and y must not overlap.
    static void Apply(const double* a, const double* b, uint32_t num_coeffs, const double* x,
                      double* y, uint32_t length);

    const double* GetA() const { return a.get(); }
    const double* GetB() const { return b.get(); }
    uint32_t GetOrder() const { return order; }
    uint32_t GetNumCoeffs() const { return num_coeffs; }

protected:
    FilterIIR() = default;

    // Sets order and num_coeffs and allocates both arrays, zero-filled.
    void Allocate(unsigned int filter_order, uint32_t coeff_count);

    std::unique_ptr<double[]> a;  // a[0] is 1 and never read by Run
    std::unique_ptr<double[]> b;
    uint32_t order = 0;
    uint32_t num_coeffs = 0;
};

// Butterworth low-pass of order 1..4 with its -3 dB point at cutoff Hz.
class LP_FilterIIR : public FilterIIR {
public:
    LP_FilterIIR(unsigned int order, double sample_rate, double cutoff);
};

// Butterworth high-pass of order 1..4 with its -3 dB point at cutoff Hz; it shares the
// denominator of the low-pass of the same order and cutoff.
class HP_FilterIIR : public FilterIIR {
public:
    HP_FilterIIR(unsigned int order, double sample_rate, double cutoff);
};

// Butterworth band-pass with 2*order poles (order 1..3), -3 dB at both edges and unit gain at
// the geometric centre of the prewarped edges.
class BP_FilterIIR : public FilterIIR {
public:
    BP_FilterIIR(unsigned int order, double sample_rate, double low_cutoff, double high_cutoff);
};
