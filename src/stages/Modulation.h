#pragma once

// Modulation: each channel's envelope times its carrier, the blend noise (1 - s) + pulses g s of
// the channel's Gaussian noise and pulse train (Carriers), s being synchronization: the envelope
// sets the loudness of its band's carrier from sample to sample. Delay: none (the same sample of
// envelope and carrier). No state: a block is any stretch of the samples.

#include <cmath>
#include <cstdint>

#include "dsp/Subnormals.h"

namespace stages {

// modulated[j] = env[j] * (nz[j] * (1 - s) + (p[j] * g) * s) for j < count.
inline void Modulate(const double* env, const double* nz, const double* p, double g, double s,
                     double* modulated, uint32_t count) {
    for (uint32_t j = 0; j < count; j++) {
        const double pulse = p[j] * g;
        const double carrier = nz[j] * (1.0 - s) + pulse * s;
        // Shortcut: a finite envelope times a zero carrier is a zero whose sign is the product
        // of the signs; in silence (no pulses, synchronization 1) the envelope rests on a
        // subnormal value, which the product would otherwise read.
        if (carrier == 0.0 && std::isfinite(env[j]) && subnormals::ShortcutsEnabled()) {
            modulated[j] = std::signbit(env[j]) != std::signbit(carrier) ? -0.0 : 0.0;
            continue;
        }
        CIHEAR_TALLY(subnormals::Is(env[j]) + subnormals::Is(carrier));
        modulated[j] = env[j] * carrier;
    }
}

}  // namespace stages
