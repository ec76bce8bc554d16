#include "stages/Carriers.h"

#include <cmath>

#include "dsp/Kernels.h"
#include "stages/Modulation.h"

namespace stages {

RandomState ChannelRandomState(const std::optional<int64_t>& seed, uint32_t channel) {
    // Well-spread seeds of SeededRandomState, one per channel.
    const uint64_t z = ChannelSeed(seed, channel, 0x9e3779b97f4a7c15ULL);
    return SeededRandomState(static_cast<int64_t>(z % (uint64_t{cihear::kMaxSeed} + 1)));
}

Carriers::Carriers(const Plan& plan, const std::optional<int64_t>& seed, uint32_t maxBlock)
    : plan(plan), running(true), channels(plan.channels) {
    if (plan.sine) {
        MakeTones(seed);
        return;
    }
    for (uint32_t i = 0; i < plan.channels; i++) {
        channels[i].start = ChannelRandomState(seed, i);
        channels[i].state = channels[i].start;
        channels[i].noise.assign(maxBlock, 0.0);
    }
}

Carriers::Carriers(const Plan& plan, const std::vector<RandomState>& starts,
                   const std::vector<double>& gains, uint32_t maxBlock,
                   const std::optional<int64_t>& seed)
    : plan(plan), running(false), channels(plan.channels) {
    if (plan.sine) {
        MakeTones(seed);
        return;
    }
    for (uint32_t i = 0; i < plan.channels; i++) {
        channels[i].start = starts[i];
        channels[i].state = starts[i];
        channels[i].gain = gains[i];
        channels[i].noise.assign(maxBlock, 0.0);  // stays 0 when not drawn
    }
}

void Carriers::MakeTones(const std::optional<int64_t>& seed) {
    for (uint32_t i = 0; i < plan.channels; i++) {
        channels[i].tone =
            Tone(plan.tones[i], plan.sampleRate, plan.zeroPhase ? 0.0 : StartPhase(seed, i));
    }
}

void Carriers::Reset() {
    for (Channel& c : channels) {
        c.state = c.start;
        c.noiseEnergy = 0.0;
        c.pulseEnergy = 0.0;
        c.tone.Reset();
    }
}

void Carriers::Process(uint32_t i, const double* env, double* p, uint32_t k, double* modulated) {
    Channel& c = channels[i];
    if (plan.sine) {
        c.tone.Modulate(env, k, modulated);
        return;
    }
    double* nz = c.noise.data();
    if (!running) {
        if (plan.synchronization != 1.0) {
            kernels::Randn(c.state, nz, k);
        }
        Modulate(env, nz, p, c.gain, plan.synchronization, modulated, k);
        return;
    }
    kernels::Randn(c.state, nz, k);
    double en = c.noiseEnergy;
    double ep = c.pulseEnergy;
    for (uint32_t j = 0; j < k; j++) {
        en = en + nz[j] * nz[j];
        ep = ep + p[j] * p[j];
        // Between pulses p[j] is +0, which the (finite, non-negative) gain leaves as it is.
        if (p[j] != 0.0) {
            p[j] = p[j] * PulseGain(en, ep);
        }
    }
    c.noiseEnergy = en;
    c.pulseEnergy = ep;
    // The gain is in the pulses already: times 1 leaves them as they are.
    Modulate(env, nz, p, 1.0, plan.synchronization, modulated, k);
}

}  // namespace stages
