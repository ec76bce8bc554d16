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

#include <cstdint>
#include <optional>
#include <vector>

#include "dsp/gasdev.h"
#include "stages/Plan.h"

namespace stages {

// The start of channel `channel`'s own noise sequence for a seed (none: the default).
RandomState ChannelRandomState(const std::optional<int64_t>& seed, uint32_t channel);

class Carriers {
public:
    Carriers(const Plan& plan, const std::optional<int64_t>& seed, uint32_t maxBlock);

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
        std::vector<double> noise;
    };
    const Plan& plan;
    std::vector<Channel> channels;
};

}  // namespace stages
