#include "stages/Tone.h"

#include <algorithm>
#include <cmath>

namespace stages {

namespace {

const uint32_t kRenormalEvery = 4096;
const double kTwoPi = 6.283185307179586;

// sin and cos of r, |r| <= pi/4, by their Taylor series to r^17 and r^18 (the first term left
// out is below 2^-60 of the result).
void Polynomials(double r, double* sine, double* cosine) {
    const double z = r * r;
    double sp = 1.0 / 355687428096000.0;  // 1/17!
    sp = sp * z - 1.0 / 1307674368000.0;  // 1/15!
    sp = sp * z + 1.0 / 6227020800.0;
    sp = sp * z - 1.0 / 39916800.0;
    sp = sp * z + 1.0 / 362880.0;
    sp = sp * z - 1.0 / 5040.0;
    sp = sp * z + 1.0 / 120.0;
    sp = sp * z - 1.0 / 6.0;
    *sine = r + r * (z * sp);
    double cp = 1.0 / 6402373705728000.0;  // 1/18!
    cp = cp * z - 1.0 / 20922789888000.0;  // 1/16!
    cp = cp * z + 1.0 / 87178291200.0;
    cp = cp * z - 1.0 / 479001600.0;
    cp = cp * z + 1.0 / 3628800.0;
    cp = cp * z - 1.0 / 40320.0;
    cp = cp * z + 1.0 / 720.0;
    cp = cp * z - 1.0 / 24.0;
    cp = cp * z + 0.5;
    *cosine = 1.0 - z * cp;
}

}  // namespace

void SinCos(double x, double* sine, double* cosine) {
    // x = q pi/2 + r, pi/2 in two parts (the first with 33 bits, so that q times it is exact).
    const double piOver2Hi = 1.57079632673412561417e+00;
    const double piOver2Lo = 6.07710050650619224932e-11;
    const double q = std::floor(x * 0.63661977236758134308 + 0.5);
    const double r = (x - q * piOver2Hi) - q * piOver2Lo;
    double s;
    double c;
    Polynomials(r, &s, &c);
    switch (static_cast<int64_t>(q) & 3) {
        case 0:
            *sine = s;
            *cosine = c;
            break;
        case 1:
            *sine = c;
            *cosine = -s;
            break;
        case 2:
            *sine = -s;
            *cosine = -c;
            break;
        default:
            *sine = -c;
            *cosine = s;
            break;
    }
}

uint64_t ChannelSeed(const std::optional<int64_t>& seed, uint32_t channel, uint64_t salt) {
    uint64_t z = (seed ? static_cast<uint64_t>(*seed) + 1 : 0) * 0x100000000ULL + channel;
    z += salt;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

double StartPhase(const std::optional<int64_t>& seed, uint32_t channel) {
    const uint64_t z = ChannelSeed(seed, channel, 0x632be59bd9b4e019ULL);
    return kTwoPi * (static_cast<double>(z >> 11) * 0x1.0p-53);
}

Tone::Tone(double frequency, double sampleRate, double phase) {
    SinCos(kTwoPi * frequency / sampleRate, &turnSin, &turnCos);
    SinCos(phase, &startSin, &startCos);
    Reset();
}

void Tone::Reset() {
    c = startCos;
    s = startSin;
    sinceRenormal = 0;
}

void Tone::Modulate(const double* envelope, uint32_t k, double* modulated) {
    // In runs up to the next renormalisation, which then follows the run.
    for (uint32_t j = 0; j < k;) {
        const uint32_t end = std::min(k, j + (kRenormalEvery - sinceRenormal));
        sinceRenormal += end - j;
        for (; j < end; j++) {
            modulated[j] = envelope[j] * s;
            const double nc = c * turnCos - s * turnSin;
            const double ns = s * turnCos + c * turnSin;
            c = nc;
            s = ns;
        }
        if (sinceRenormal == kRenormalEvery) {
            const double length = std::sqrt(c * c + s * s);
            c = c / length;
            s = s / length;
            sinceRenormal = 0;
        }
    }
}

}  // namespace stages
