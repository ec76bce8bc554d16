#pragma once

// Carriers: what each channel's envelope modulates, as the stream makes it. The carrier is the
// blend noise (1 - s) + pulses g s of Gaussian noise and of the channel's pulse train (a pulse
// on every peak of the envelope, 1 over the peaks within 250 samples either side:
// block::PulseStream), s being synchronization. g = sqrt(E_noise / E_pulse) gives the pulse
// train the noise's energy, so that the blend keeps the level whatever s is.
//
// The offline simulation knows the whole signal: its noise of channel i is the i-th stretch of
// one random sequence, and its energies are those of the whole signal. A stream knows neither,
// so here each channel draws from a sequence of its own (ChannelRandomState), and E_noise and
// E_pulse are accumulated from the start of the stream up to and including each sample, g
// being recomputed for every sample. From the start rather than over a sliding window: the
// noise's energy grows like the sample count and the pulses' like the peaks' count, so the
// ratio settles to the offline gain of a long recording, needs no memory, and does not pump
// with the material; the first frames of a stream carry the unsettled ratio of few pulses.
// Delay: none (the pulse train's look-ahead belongs to PulseStream).
//
// With carrier sine the carrier of channel i is its tone instead (Tone.h), the same offline and
// in a stream (its start phase from the seed and the channel alone); no noise is drawn and the
// pulse trains are not heard.

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "dsp/gasdev.h"
#include "stages/Plan.h"
#include "stages/Tone.h"

namespace stages {

// The start of channel `channel`'s own noise sequence for a seed (none: the default).
RandomState ChannelRandomState(const std::optional<int64_t>& seed, uint32_t channel);

// e + x[0]^2 + x[1]^2 + ... + x[k-1]^2, added in that order: a carrier's energy, continued.
inline double AddSquares(double e, const double* x, uint64_t k) {
    for (uint64_t j = 0; j < k; j++) {
        e = e + x[j] * x[j];
    }
    return e;
}

class Carriers {
public:
    // The stream's carriers: each channel's own noise sequence, the gains from the energies so
    // far.
    Carriers(const Plan& plan, const std::optional<int64_t>& seed, uint32_t maxBlock);
    // The offline simulation's: channel i's noise continues starts[i], its gain is gains[i]
    // (from the whole signal's energies). At synchronization 1 the noise is not drawn: its
    // part, noise * (1 - 1), is a zero whatever the noise, and a zero plus the pulse (never
    // negative) is the pulse, bit for bit.
    Carriers(const Plan& plan, const std::vector<RandomState>& starts,
             const std::vector<double>& gains, uint32_t maxBlock,
             const std::optional<int64_t>& seed = std::nullopt);

    // The gain of a pulse train: sqrt(E_noise / E_pulse), or 0 for a train without pulses
    // (whose infinite gain would multiply zeros).
    static double PulseGain(double noiseEnergy, double pulseEnergy) {
        return pulseEnergy > 0.0 ? std::sqrt(noiseEnergy / pulseEnergy) : 0.0;
    }

    // Channel i's modulated carrier for its next k samples: env the envelope, p the pulse
    // train (overwritten), into modulated. Channels are independent.
    void Process(uint32_t i, const double* env, double* p, uint32_t k, double* modulated);
    void Reset();

    double NoiseEnergy(uint32_t i) const { return channels[i].noiseEnergy; }
    double PulseEnergy(uint32_t i) const { return channels[i].pulseEnergy; }

private:
    struct Channel {
        RandomState start;
        RandomState state;
        double noiseEnergy = 0.0;
        double pulseEnergy = 0.0;
        double gain = 0.0;  // offline: fixed
        std::vector<double> noise;
        Tone tone;  // carrier sine
    };
    void MakeTones(const std::optional<int64_t>& seed);
    const Plan& plan;
    bool running;  // the stream's gains
    std::vector<Channel> channels;
};

}  // namespace stages
