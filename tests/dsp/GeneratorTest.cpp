#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "dsp/NoiseGenerator.h"
#include "dsp/Normalizer.h"
#include "dsp/TrainPulseGenerator.h"
#include "dsp/gasdev.h"

namespace {

// --- NoiseGenerator ---------------------------------------------------------------------------

const double firstRandn[] = {-0.8368539810180664, -0.1722799688577652, 0.18711760640144348,
                             1.615439772605896,   -0.1767740696668625, 0.6531447172164917};

// Successive generators on one state continue its sequence, an empty one drawing nothing; a
// generator without a state given starts from a fresh one of its own.
TEST(NoiseGeneratorTest, ContinuesTheRandomSequence) {
    RandomState shared;
    std::unique_ptr<Signal> empty(NoiseGenerator(0, 20000, &shared).Generate());
    EXPECT_EQ(empty->GetLength(), 0u);
    NoiseGenerator three(3, 16000, &shared);
    std::unique_ptr<Signal> first(three.Generate());
    std::unique_ptr<Signal> second(NoiseGenerator(3, 16000, &shared).Generate());
    NoiseGenerator own(3, 16000);
    std::unique_ptr<Signal> again(own.Generate());
    std::unique_ptr<Signal> onwards(own.Generate());
    for (unsigned long i = 0; i < 3; i++) {
        EXPECT_EQ(first->Get(i), firstRandn[i]) << i;
        EXPECT_EQ(second->Get(i), firstRandn[i + 3]) << i;
        EXPECT_EQ(again->Get(i), firstRandn[i]) << i;
        EXPECT_EQ(onwards->Get(i), firstRandn[i + 3]) << i;
    }
}

TEST(NoiseGeneratorTest, LengthRateAndSpread) {
    std::unique_ptr<Signal> noise(NoiseGenerator(40000, 22050).Generate());
    ASSERT_EQ(noise->GetLength(), 40000u);
    EXPECT_EQ(noise->GetSampleRate(), 22050u);
    double sum = 0.0, squares = 0.0;
    for (uint32_t i = 0; i < noise->GetLength(); i++) {
        sum += noise->Get(i);
        squares += noise->Get(i) * noise->Get(i);
    }
    const double mean = sum / noise->GetLength();
    EXPECT_NEAR(mean, 0.0, 0.02);
    EXPECT_NEAR(std::sqrt(squares / noise->GetLength() - mean * mean), 1.0, 0.02);
}

// --- TrainPulseGenerator ----------------------------------------------------------------------

// A silent source of the given length with a unit bump (a strict maximum) at each position.
std::unique_ptr<Signal> Bumps(uint32_t length, std::initializer_list<uint32_t> positions) {
    std::unique_ptr<Signal> s(new Signal(length, 20000));
    for (uint32_t i : positions) {
        s->Set(i, 1.0);
    }
    return s;
}

std::unique_ptr<Signal> Pulses(Signal* source) {
    return std::unique_ptr<Signal>(TrainPulseGenerator(source).Generate());
}

// Every sample is 0 except the listed (position, height) pairs.
void ExpectPulses(const Signal& p, std::initializer_list<std::pair<uint32_t, double>> expected) {
    for (uint32_t i = 0; i < p.GetLength(); i++) {
        double want = 0.0;
        for (const auto& e : expected) {
            if (e.first == i) {
                want = e.second;
            }
        }
        EXPECT_NEAR(p.Get(i), want, 1e-15) << "sample " << i;
    }
}

TEST(TrainPulseGeneratorTest, PulseHeightIsOneOverTheMaximaNearby) {
    auto isolated = Bumps(2000, {1000});
    ExpectPulses(*Pulses(isolated.get()), {{1000, 1.0}});

    auto pair = Bumps(2000, {900, 1000});
    ExpectPulses(*Pulses(pair.get()), {{900, 0.5}, {1000, 0.5}});

    // 250 apart still share the window; 251 apart do not.
    auto edge = Bumps(3000, {500, 750, 1500, 1751});
    ExpectPulses(*Pulses(edge.get()), {{500, 0.5}, {750, 0.5}, {1500, 1.0}, {1751, 1.0}});

    // The middle one sees both neighbours (the first already divided, still counted).
    auto three = Bumps(2000, {800, 1000, 1200});
    ExpectPulses(*Pulses(three.get()), {{800, 0.5}, {1000, 1.0 / 3.0}, {1200, 0.5}});
}

TEST(TrainPulseGeneratorTest, OnlyStrictMaximaAwayFromTheEndsArePulses) {
    // 249 and length - 250 lie in the margins; 250 and length - 251 are the outermost allowed.
    auto margins = Bumps(2000, {249, 1750});
    ExpectPulses(*Pulses(margins.get()), {});
    auto outermost = Bumps(2000, {250, 1749});
    ExpectPulses(*Pulses(outermost.get()), {{250, 1.0}, {1749, 1.0}});

    auto flatTop = Bumps(2000, {1000, 1001});
    ExpectPulses(*Pulses(flatTop.get()), {});

    // A tone: a pulse at each crest only.
    Signal tone(2000, 20000);
    for (unsigned long i = 0; i < 2000; i++) {
        tone.Set(i, std::sin(2.0 * 3.141592653589793 * (static_cast<double>(i) + 0.75) / 400.0));
    }
    std::unique_ptr<Signal> p = Pulses(&tone);
    int count = 0;
    for (unsigned long i = 0; i < 2000; i++) {
        if (p->Get(i) != 0.0) {
            count++;
            EXPECT_EQ(i % 400, 99u) << i;
        }
    }
    EXPECT_EQ(count, 4);  // crests at 499, 899, 1299, 1699
}

TEST(TrainPulseGeneratorTest, ShortSourcesGiveSilence) {
    for (uint32_t length : {0u, 1u, 3u, 250u, 251u, 499u, 500u}) {
        std::unique_ptr<Signal> source(new Signal(length, 8000));
        for (uint32_t i = 1; i < length; i += 2) {
            source->Set(i, 1.0);  // a maximum at every odd sample
        }
        std::unique_ptr<Signal> p = Pulses(source.get());
        ASSERT_EQ(p->GetLength(), length);
        EXPECT_EQ(p->GetSampleRate(), 8000u);
        ExpectPulses(*p, {});
    }
    // 501 samples leave exactly one candidate, the centre.
    auto shortest = Bumps(501, {250});
    ExpectPulses(*Pulses(shortest.get()), {{250, 1.0}});
}

TEST(TrainPulseGeneratorTest, SourceIsLeftUntouched) {
    auto source = Bumps(1000, {400, 500});
    const Signal before(*source);
    std::unique_ptr<Signal> p = Pulses(source.get());
    EXPECT_NE(p.get(), source.get());
    for (unsigned long i = 0; i < 1000; i++) {
        ASSERT_EQ(source->Get(i), before.Get(i)) << i;
    }
}

// --- Normalizer -------------------------------------------------------------------------------

TEST(NormalizerTest, ScalesThePeakMagnitudeTo09999) {
    const double values[] = {0.5, -2.0, 1.0, -0.25, 0.0};
    Signal input(5, 44100);
    for (unsigned long i = 0; i < 5; i++) {
        input.Set(i, values[i]);
    }
    std::unique_ptr<Signal> out(Normalizer().Run(&input));
    ASSERT_EQ(out->GetLength(), 5u);
    EXPECT_EQ(out->GetSampleRate(), 44100u);
    EXPECT_NEAR(out->Get(1), -0.9999, 1e-15);
    for (unsigned long i = 0; i < 5; i++) {
        EXPECT_NEAR(out->Get(i), values[i] * 0.49995, 1e-15) << i;
        EXPECT_EQ(input.Get(i), values[i]) << "input changed at " << i;
    }

    // A positive peak in the last sample.
    Signal rising(3, 100);
    rising.Set(0, -0.1);
    rising.Set(2, 0.4);
    std::unique_ptr<Signal> r(Normalizer().Run(&rising));
    EXPECT_NEAR(r->Get(2), 0.9999, 1e-15);
    EXPECT_NEAR(r->Get(0), -0.1 * 0.9999 / 0.4, 1e-15);
}

TEST(NormalizerTest, SilenceStaysSilent) {
    for (uint32_t length : {0u, 1u, 10u}) {
        Signal silent(length, 20000);
        std::unique_ptr<Signal> out(Normalizer().Run(&silent));
        ASSERT_EQ(out->GetLength(), length);
        EXPECT_EQ(out->GetSampleRate(), 20000u);
        for (uint32_t i = 0; i < length; i++) {
            EXPECT_EQ(out->Get(i), 0.0);
        }
    }
}

}  // namespace
