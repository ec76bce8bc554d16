#pragma once

// Normalization: a signal scaled so that its largest magnitude becomes kPeak = 0.9999, just
// below full scale, so that the 16-bit conversion never meets 1.0 (which wraps to -32768:
// cihear::ToPcm16); silence stays silent. It finishes the offline simulation and the rate
// conversion, and needs the peak of the whole signal: Peak over every stretch of it (the
// largest of those, in any order), then ScaleToPeak on every stretch. Delay: none.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "dsp/Subnormals.h"

namespace stages {

constexpr double kPeak = 0.9999;

// The largest magnitude of x[0 .. length).
inline double Peak(const double* x, uint64_t length) {
    double peak = 0.0;
    for (uint64_t i = 0; i < length; i++) {
        if (std::fabs(x[i]) > peak) {
            peak = std::fabs(x[i]);
        }
    }
    return peak;
}

// y[i] = x[i] * g for every i (x and y may be the same array).
inline void Scale(const double* x, double* y, uint64_t length, double g) {
    // Shortcut: a sample with the bits of the one before it gives the output before it (in
    // silence the samples repeat one subnormal value).
    double lastX = 0.0;
    for (uint64_t i = 0; i < length; i++) {
        const double v = x[i];
        if (i > 0 && subnormals::ShortcutsEnabled() && subnormals::Same(v, lastX)) {
            y[i] = y[i - 1];
            continue;
        }
        CIHEAR_TALLY(subnormals::Is(v));
        lastX = v;
        y[i] = v * g;
    }
}

// A stretch of a signal whose peak magnitude (over all of it) is `peak`, scaled:
// y[i] = x[i] * kPeak * (1 / peak), or +0 for every i when the peak is 0.
inline void ScaleToPeak(const double* x, double* y, uint64_t length, double peak) {
    if (peak == 0.0) {
        std::fill(y, y + length, 0.0);
        return;
    }
    Scale(x, y, length, kPeak * (1.0 / peak));
}

// A whole signal normalised (x and y may be the same array).
inline void Normalize(const double* x, double* y, uint64_t length) {
    ScaleToPeak(x, y, length, Peak(x, length));
}

}  // namespace stages
