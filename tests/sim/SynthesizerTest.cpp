#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "dsp/FilterFIR.h"
#include "dsp/FilterIIR.h"
#include "dsp/NoiseGenerator.h"
#include "dsp/Normalizer.h"
#include "dsp/TrainPulseGenerator.h"
#include "sim/Synthesizer.h"
#include "sim/TestSupport.h"

namespace {

using Channels = std::vector<std::vector<double>>;

// An envelope with a peak every `period` samples.
std::vector<double> Bumps(size_t length, double period, double phase = 0.0) {
    std::vector<double> v(length);
    for (size_t j = 0; j < length; j++) {
        v[j] = 0.5 + 0.4 * std::sin(2 * 3.141592653589793 * j / period + phase);
    }
    return v;
}

std::unique_ptr<Parameters> SynthParams(unsigned channels, double sync) {
    std::unique_ptr<Parameters> p = ChannelParams(channels, channels);
    p->f_min->SetValue(800.0);
    p->f_max->SetValue(3200.0);
    p->synchronization->SetValue(sync);
    return p;
}

std::vector<double> Synthesize(Parameters* p, const Channels& env, Signal* input = nullptr) {
    Synthesizer s(p, kRate);
    std::unique_ptr<SignalVector> v(MakeVector(env));
    std::unique_ptr<Signal> out(s.Run(v.get(), input));
    return Samples(*out);
}

// The vocoder written out directly from the generators and the band filters: channel i draws
// its noise (the i-th run of draws), gets its pulse train scaled to the noise's energy, and the
// band-filtered products are summed and normalised.
std::vector<double> DirectVocoder(const Synthesizer& bands, const Channels& env, double sync) {
    const size_t length = env[0].size();
    std::vector<double> sum(length, 0.0);
    RandomState random;  // fresh, as a synthesizer's own
    for (size_t i = 0; i < env.size(); i++) {
        std::unique_ptr<Signal> e(MakeSignal(env[i]));
        NoiseGenerator noiseGen(length, kRate, &random);
        std::unique_ptr<Signal> noise(noiseGen.Generate());
        TrainPulseGenerator pulseGen(e.get());
        std::unique_ptr<Signal> pulses(pulseGen.Generate());
        double en = 0.0, ep = 0.0;
        for (size_t j = 0; j < length; j++) {
            en += noise->Get(j) * noise->Get(j);
            ep += pulses->Get(j) * pulses->Get(j);
        }
        const double g = std::sqrt(en / ep);
        Signal modulated(length, kRate);
        for (size_t j = 0; j < length; j++) {
            double carrier;
            if (sync == 0.0) {
                carrier = noise->Get(j);
            } else if (sync == 1.0) {
                carrier = pulses->Get(j) * g;
            } else {
                carrier = noise->Get(j) * (1.0 - sync) + (pulses->Get(j) * g) * sync;
            }
            modulated.Set(j, e->Get(j) * carrier);
        }
        FilterHilbertSin filter(bands.GetBandwidth()[i], bands.GetCenterFreq()[i], kRate);
        std::unique_ptr<Signal> band(filter.Run(&modulated));
        for (size_t j = 0; j < length; j++) {
            sum[j] += band->Get(j);
        }
    }
    std::unique_ptr<Signal> s(MakeSignal(sum));
    Normalizer normalizer;
    std::unique_ptr<Signal> out(normalizer.Run(s.get()));
    return Samples(*out);
}

void ExpectMatchesDirectVocoder(unsigned channels, double sync, const Channels& env) {
    std::unique_ptr<Parameters> p = SynthParams(channels, sync);
    const std::vector<double> got = Synthesize(p.get(), env);
    const Synthesizer bands(p.get(), kRate);
    const std::vector<double> expected = DirectVocoder(bands, env, sync);
    ASSERT_EQ(got.size(), env[0].size());
    EXPECT_TRUE(SameSamples(got, expected));
    double peak = 0.0;
    for (double v : got) {
        peak = std::max(peak, std::fabs(v));
    }
    EXPECT_NEAR(peak, 0.9999, 1e-12);
}

TEST(Synthesizer, NoiseCarrierAtSynchronizationZero) {
    ExpectMatchesDirectVocoder(1, 0.0, {Bumps(3000, 97.0)});
}

TEST(Synthesizer, EnergyMatchedPulseCarrierAtSynchronizationOne) {
    ExpectMatchesDirectVocoder(1, 1.0, {Bumps(3000, 97.0)});
}

TEST(Synthesizer, BlendedCarriersDrawOneRunOfNoisePerChannel) {
    ExpectMatchesDirectVocoder(
        3, 0.3, {Bumps(2500, 97.0), Bumps(2500, 61.0, 1.0), Bumps(2500, 143.0, 2.0)});
}

TEST(Synthesizer, EasAddsTheLowPassedInputAndNormalisesAgain) {
    const Channels env = {Bumps(3000, 97.0), Bumps(3000, 61.0, 1.0)};
    std::unique_ptr<Signal> input(MakeSignal(SpeechLike(3000)));

    std::unique_ptr<Parameters> eas = SynthParams(2, 0.5);
    eas->cutoff_freq->SetValue(1500.0);
    eas->eas->SetValue(true);
    const std::vector<double> got = Synthesize(eas.get(), env, input.get());

    // The same bands without eas: the implant part on its own.
    std::unique_ptr<Parameters> implant = SynthParams(2, 0.5);
    implant->f_min->SetValue(1500.0);
    const std::vector<double> expected = [&] {
        std::vector<double> electric = Synthesize(implant.get(), env);
        LP_FilterIIR lp(2, static_cast<double>(kRate), 1500.0);
        std::unique_ptr<Signal> acoustic(lp.Run(input.get()));
        for (size_t j = 0; j < electric.size(); j++) {
            electric[j] += acoustic->Get(j);
        }
        std::unique_ptr<Signal> sum(MakeSignal(electric));
        Normalizer normalizer;
        std::unique_ptr<Signal> out(normalizer.Run(sum.get()));
        return Samples(*out);
    }();
    ASSERT_EQ(got.size(), 3000u);
    EXPECT_TRUE(SameSamples(got, expected));
}

TEST(Synthesizer, EnvelopesWithoutPeaksGiveFiniteOutput) {
    const size_t length = 2000;
    std::vector<double> ramp(length);
    for (size_t j = 0; j < length; j++) {
        ramp[j] = 1e-4 * j;  // no local maximum: an empty pulse train
    }
    for (double sync : {1.0, 0.5}) {
        std::unique_ptr<Parameters> p = SynthParams(2, sync);
        const std::vector<double> silent = Synthesize(
            p.get(), {std::vector<double>(length, 0.0), std::vector<double>(length, 0.0)});
        EXPECT_EQ(silent, std::vector<double>(length, 0.0)) << "sync " << sync;

        const std::vector<double> out = Synthesize(p.get(), {ramp, ramp});
        ASSERT_EQ(out.size(), length);
        bool finite = true, sound = false;
        for (double v : out) {
            finite = finite && std::isfinite(v);
            sound = sound || v != 0.0;
        }
        EXPECT_TRUE(finite) << "sync " << sync;
        // Only the noise part carries the ramp; without it the channel is silent.
        EXPECT_EQ(sound, sync < 1.0) << "sync " << sync;
    }
}

TEST(Synthesizer, OutputHasTheEnvelopesLength) {
    std::unique_ptr<Parameters> p = SynthParams(3, 0.5);
    for (size_t length : {0u, 1u, 99u, 100u, 501u, 4321u}) {
        const Channels env(3, Bumps(length, 37.0));
        EXPECT_EQ(Synthesize(p.get(), env).size(), length);
    }
}

TEST(Synthesizer, BandsAreFixedWhenBuiltTheCarrierWhenRun) {
    const Channels env = {Bumps(2500, 97.0), Bumps(2500, 61.0, 1.0)};
    std::unique_ptr<Parameters> p = SynthParams(2, 0.3);
    Synthesizer built(p.get(), kRate);
    // The band edges changed after the synthesizer was built do not move its bands; the
    // synchronization changed does change its carriers.
    p->f_min->SetValue(1500.0);
    p->synchronization->SetValue(0.7);
    std::unique_ptr<SignalVector> v(MakeVector(env));
    std::unique_ptr<Signal> got(built.Run(v.get(), nullptr));
    std::unique_ptr<Parameters> expected = SynthParams(2, 0.7);
    EXPECT_TRUE(SameSamples(Samples(*got), Synthesize(expected.get(), env)));
}

}  // namespace

// The shortcuts of the modulation and of the acoustic sum against their plain loops, with
// zero carriers of either sign, subnormal and infinite envelopes and repeated operands.
TEST(SynthesizerShortcuts, ModulateAndAddAcousticMatchThePlainLoops) {
    const double tiny = 4.9406564584124654e-324;
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> envs = {0.0, -0.0, tiny, -tiny, 0.5, inf, -inf, 2 * tiny};
    const std::vector<double> noises = {0.0, -0.0, 1.25, -0.75, tiny};
    const std::vector<double> pulses = {0.0, -0.0, 0.5};
    std::vector<double> env, nz, p;
    for (double e : envs) {
        for (double z : noises) {
            for (double q : pulses) {
                env.push_back(e);
                nz.push_back(z);
                p.push_back(q);
            }
        }
    }
    const uint32_t n = static_cast<uint32_t>(env.size());
    for (double s : {0.0, 0.3, 1.0}) {
        for (double g : {0.0, 2.0}) {
            std::vector<double> out(n), plain(n);
            Synthesizer::Modulate(env.data(), nz.data(), p.data(), g, s, out.data(), n);
            for (uint32_t j = 0; j < n; j++) {
                plain[j] = env[j] * (nz[j] * (1.0 - s) + (p[j] * g) * s);
            }
            EXPECT_EQ(0, std::memcmp(out.data(), plain.data(), n * sizeof(double)));
        }
    }
    std::vector<double> r(env), a(nz.begin(), nz.end());
    a.resize(n, tiny);
    std::vector<double> plain(n);
    for (uint32_t j = 0; j < n; j++) {
        plain[j] = r[j] + a[j];
    }
    Synthesizer::AddAcoustic(r.data(), a.data(), n);
    EXPECT_EQ(0, std::memcmp(r.data(), plain.data(), n * sizeof(double)));
}
