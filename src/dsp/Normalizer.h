#pragma once

#include <cstdint>

#include "signal/DSP.h"

// Scales a signal so that its largest magnitude becomes 0.9999; silence stays silent: the
// normalisation stage (stages/Normalization.h) over whole signals and raw arrays.
class Normalizer final {
public:
    Normalizer() = default;
    Normalizer(const Normalizer&) = delete;
    Normalizer& operator=(const Normalizer&) = delete;

    Signal* Run(Signal* input);

    // What Run gives, over raw arrays: y[i] = x[i] * 0.9999 * (1 / peak), or +0 for every i
    // when the peak magnitude is 0 (x and y may be the same array).
    static void Normalize(const double* x, double* y, uint64_t length);

    // The largest magnitude of x[0 .. length).
    static double Peak(const double* x, uint64_t length);
    // Normalize's scaling for a signal whose peak magnitude (over all of it) is `peak`, applied
    // to a stretch of it.
    static void ScaleToPeak(const double* x, double* y, uint64_t length, double peak);

    // y[i] = x[i] * g for every i (x and y may be the same array).
    static void Scale(const double* x, double* y, uint64_t length, double g);
};
