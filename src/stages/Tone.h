#pragma once

// Tone: the sine carrier of one channel, sin(phase0 + 2 pi f n / fs) for sample n, made by a
// rotating phasor (each sample the pair (cos, sin) is turned by the angle 2 pi f / fs: four
// multiplications and two additions) instead of a sin call per sample. Every value comes from
// additions, multiplications, divisions and square roots alone, which IEEE 754 rounds the same way
// on every machine (the build contracts none of them), so the tones are identical natively and in
// the page. The pair's length drifts from 1 by about 1e-16 per sample; it is set back to 1 at
// every 4096th sample of the stream, at the same samples however the signal is split into blocks.
// The tone is at the geometric centre of the channel's synthesis band, sqrt(low high): the middle
// of the band on the cochlea's (logarithmic) frequency axis, where a band of a log layout centres
// its place (Plan::tones). Its start phase is drawn per channel from the seed (0 .. 2 pi), or 0
// for every channel with sine_phase zero. Delay: none.

#include <cstdint>
#include <optional>

namespace stages {

// sin and cos of x (|x| < 2^20) to within about 2 units in the last place, from the basic
// operations alone.
void SinCos(double x, double* sine, double* cosine);

// A well-spread 64-bit value for a seed (none: a value no seed gives), a channel and a
// purpose (`salt`): SplitMix64's finaliser of the three. Each channel's noise sequence and its
// tone's phase are drawn from it, with salts of their own.
uint64_t ChannelSeed(const std::optional<int64_t>& seed, uint32_t channel, uint64_t salt);

// Channel `channel`'s start phase in [0, 2 pi) for a seed (none: a fixed default).
double StartPhase(const std::optional<int64_t>& seed, uint32_t channel);

class Tone {
public:
    Tone() = default;
    Tone(double frequency, double sampleRate, double phase);
    // modulated[j] = envelope[j] x the tone's next k samples.
    void Modulate(const double* envelope, uint32_t k, double* modulated);
    void Reset();

private:
    double startCos = 1.0;
    double startSin = 0.0;
    double turnCos = 1.0;  // cos and sin of 2 pi f / fs
    double turnSin = 0.0;
    double c = 1.0;
    double s = 0.0;
    uint32_t sinceRenormal = 0;
};

}  // namespace stages
