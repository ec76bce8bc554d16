#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "dsp/FilterIIR.h"
#include "dsp/LinearInterpolator.h"
#include "dsp/Normalizer.h"
#include "dsp/Resampler.h"

namespace {

const double pi = 3.141592653589793;

std::unique_ptr<Signal> Ramp(uint32_t length, uint32_t rate) {
    std::unique_ptr<Signal> s(new Signal(length, rate));
    for (uint32_t i = 0; i < length; i++) {
        s->Set(i, static_cast<double>(i));
    }
    return s;
}

std::unique_ptr<Signal> Tone(uint32_t length, uint32_t rate, double freq, double amplitude) {
    std::unique_ptr<Signal> s(new Signal(length, rate));
    for (uint32_t i = 0; i < length; i++) {
        s->Set(i, amplitude * std::sin(2.0 * pi * freq * i / rate));
    }
    return s;
}

void ExpectSameSamples(const Signal& a, const Signal& b) {
    ASSERT_EQ(a.GetLength(), b.GetLength());
    EXPECT_EQ(a.GetSampleRate(), b.GetSampleRate());
    for (uint32_t i = 0; i < a.GetLength(); i++) {
        ASSERT_EQ(a.Get(i), b.Get(i)) << "sample " << i;
    }
}

void ExpectEmpty(const Signal& s) {
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_EQ(s.GetSampleRate(), 0u);
}

double Peak(const Signal& s) {
    double peak = 0.0;
    for (uint32_t i = 0; i < s.GetLength(); i++) {
        peak = std::fmax(peak, std::fabs(s.Get(i)));
    }
    return peak;
}

// Rising zero crossings after the filter has settled: about the tone's frequency times the
// remaining duration.
int RisingCrossings(const Signal& s, uint32_t skip) {
    int count = 0;
    for (uint32_t i = skip + 1; i < s.GetLength(); i++) {
        count += s.Get(i - 1) < 0.0 && s.Get(i) >= 0.0;
    }
    return count;
}

// --- LinearInterpolator -----------------------------------------------------------------------

TEST(LinearInterpolatorTest, ShrinkingKeepsTheEndsAndScalesTheRate) {
    auto ramp = Ramp(10, 1000);
    LinearInterpolator li;
    std::unique_ptr<Signal> four(li.Run(ramp.get(), 4));
    ASSERT_EQ(four->GetLength(), 4u);
    EXPECT_EQ(four->GetSampleRate(), 400u);
    const double expected[] = {0.0, 2.5, 5.0, 9.0};
    for (uint32_t i = 0; i < 4; i++) {
        EXPECT_NEAR(four->Get(i), expected[i], 1e-12) << i;
    }

    std::unique_ptr<Signal> two(li.Run(ramp.get(), 2));
    ASSERT_EQ(two->GetLength(), 2u);
    EXPECT_EQ(two->Get(0), 0.0);
    EXPECT_EQ(two->Get(1), 9.0);
    EXPECT_EQ(two->GetSampleRate(), 200u);

    std::unique_ptr<Signal> one(li.Run(ramp.get(), 1));
    ASSERT_EQ(one->GetLength(), 1u);
    EXPECT_EQ(one->Get(0), 9.0);  // the last sample wins
    EXPECT_EQ(one->GetSampleRate(), 100u);

    ExpectEmpty(*std::unique_ptr<Signal>(li.Run(ramp.get(), 0)));

    // Halves round away from zero: 2/4 * 1001 = 500.5.
    std::unique_ptr<Signal> odd(new Signal(4, 1001));
    EXPECT_EQ(std::unique_ptr<Signal>(li.Run(odd.get(), 2))->GetSampleRate(), 501u);
}

TEST(LinearInterpolatorTest, SameLengthIsAnIndependentCopy) {
    auto tone = Tone(50, 8000, 700.0, 0.7);
    LinearInterpolator li;
    for (Signal* copy : {li.Run(tone.get(), 50), li.Run(tone.get())}) {
        std::unique_ptr<Signal> owned(copy);
        EXPECT_NE(owned.get(), tone.get());
        EXPECT_NE(owned->GetSamples(), tone->GetSamples());
        ExpectSameSamples(*owned, *tone);
    }
}

TEST(LinearInterpolatorTest, StretchingFollowsTheStraightLines) {
    // On a ramp every interpolated value is its own position; for n up to 2L no position
    // passes the last sample.
    auto ramp = Ramp(10, 1000);
    const auto before = *ramp;
    for (uint32_t n : {11u, 15u, 19u, 20u}) {
        std::unique_ptr<Signal> out(LinearInterpolator().Run(ramp.get(), n));
        ASSERT_EQ(out->GetLength(), n);
        EXPECT_EQ(out->GetSampleRate(), static_cast<uint32_t>(std::lround(n * 100.0)));
        for (uint32_t i = 0; i + 1 < n; i++) {
            EXPECT_NEAR(out->Get(i), i * 10.0 / n, 1e-12) << n << ": " << i;
        }
        EXPECT_EQ(out->Get(n - 1), 9.0);
    }
    ExpectSameSamples(*ramp, before);
}

TEST(LinearInterpolatorTest, LengthsBeyondTwiceTheInputStayInside) {
    // Past the last input sample the output holds it.
    auto ramp = Ramp(10, 1000);
    std::unique_ptr<Signal> out(LinearInterpolator().Run(ramp.get(), 50));
    ASSERT_EQ(out->GetLength(), 50u);
    for (uint32_t i = 0; i < 50; i++) {
        EXPECT_NEAR(out->Get(i), std::fmin(i * 0.2, 9.0), 1e-12) << i;
    }

    std::unique_ptr<Signal> single(new Signal(1, 300));
    single->Set(0, -0.5);
    std::unique_ptr<Signal> held(LinearInterpolator().Run(single.get(), 7));
    ASSERT_EQ(held->GetLength(), 7u);
    EXPECT_EQ(held->GetSampleRate(), 2100u);
    for (uint32_t i = 0; i < 7; i++) {
        EXPECT_EQ(held->Get(i), -0.5) << i;
    }

    // Nothing to stretch: silence of the asked length.
    std::unique_ptr<Signal> empty(new Signal(0, 44100));
    std::unique_ptr<Signal> silence(LinearInterpolator().Run(empty.get(), 3));
    ASSERT_EQ(silence->GetLength(), 3u);
    EXPECT_EQ(silence->GetSampleRate(), 44100u);
    for (uint32_t i = 0; i < 3; i++) {
        EXPECT_EQ(silence->Get(i), 0.0);
    }
}

// --- Resampler --------------------------------------------------------------------------------

TEST(ResamplerTest, DownsamplingLengthsAndRates) {
    Resampler r;
    struct Case {
        uint32_t length, outLength, outRate;
    };
    for (const Case& c : {Case{44100, 20000, 20000}, Case{12345, 5598, 19998}}) {
        auto tone = Tone(c.length, 44100, 440.0, 0.3);
        const Signal before(*tone);
        std::unique_ptr<Signal> out(r.Run(tone.get(), 20000));
        ASSERT_EQ(out->GetLength(), c.outLength);
        EXPECT_EQ(out->GetSampleRate(), c.outRate);
        EXPECT_NEAR(Peak(*out), 0.9999, 1e-15);
        ExpectSameSamples(*tone, before);
    }
    auto second = Tone(44100, 44100, 440.0, 0.3);
    std::unique_ptr<Signal> out(r.Run(second.get(), 20000));
    EXPECT_NEAR(RisingCrossings(*out, 200), 440 * (1.0 - 0.01), 2);

    // Three samples leave one: the last of the filtered input, which is still 0 (an order-2
    // filter's first three outputs are).
    auto three = Tone(3, 44100, 1000.0, 1.0);
    std::unique_ptr<Signal> one(r.Run(three.get(), 20000));
    ASSERT_EQ(one->GetLength(), 1u);
    EXPECT_EQ(one->GetSampleRate(), 14700u);
    EXPECT_EQ(one->Get(0), 0.0);

    for (uint32_t length : {1u, 2u}) {
        auto tiny = Tone(length, 44100, 1000.0, 1.0);
        ExpectEmpty(*std::unique_ptr<Signal>(r.Run(tiny.get(), 20000)));
    }
    std::unique_ptr<Signal> none(new Signal(0, 44100));
    EXPECT_EQ(std::unique_ptr<Signal>(r.Run(none.get(), 20000))->GetLength(), 0u);
}

TEST(ResamplerTest, UpsamplingByAFractionalRatio) {
    auto tone = Tone(16000, 16000, 440.0, 0.25);
    const Signal before(*tone);
    std::unique_ptr<Signal> out(Resampler().Run(tone.get(), 20000));
    ASSERT_EQ(out->GetLength(), 20000u);
    EXPECT_EQ(out->GetSampleRate(), 20000u);
    const double ulp = std::nextafter(0.9999, 1.0) - 0.9999;
    EXPECT_LE(std::fabs(Peak(*out) - 0.9999), ulp);
    EXPECT_NEAR(RisingCrossings(*out, 200), 440 * (1.0 - 0.01), 2);
    ExpectSameSamples(*tone, before);

    // Lengths that do not divide evenly round up.
    auto odd = Tone(1001, 16000, 440.0, 0.25);
    EXPECT_EQ(std::unique_ptr<Signal>(Resampler().Run(odd.get(), 20000))->GetLength(), 1252u);
}

TEST(ResamplerTest, WholeRatioIsTheHeldFilteredNormalisedSignal) {
    auto tone = Tone(3000, 10000, 1234.0, 0.5);
    std::unique_ptr<Signal> out(Resampler().Run(tone.get(), 20000));

    Signal held(6000, 20000);
    for (uint32_t i = 0; i < 6000; i++) {
        held.Set(i, tone->Get(i / 2));
    }
    LP_FilterIIR filter(2, 20000.0, 4500.0);
    std::unique_ptr<Signal> filtered(filter.Run(&held));
    std::unique_ptr<Signal> expected(Normalizer().Run(filtered.get()));
    ExpectSameSamples(*out, *expected);
}

TEST(ResamplerTest, EqualRatesGiveAnUnnormalisedCopy) {
    auto tone = Tone(500, 20000, 300.0, 0.3);
    Resampler r;
    for (Signal* copy : {r.Run(tone.get(), 20000), r.Run(tone.get())}) {
        std::unique_ptr<Signal> owned(copy);
        EXPECT_NE(owned->GetSamples(), tone->GetSamples());
        ExpectSameSamples(*owned, *tone);
    }
}

TEST(ResamplerTest, ImpossibleConversionsGiveAnEmptySignal) {
    Resampler r;
    // No rate at the input, or none asked for.
    std::unique_ptr<Signal> rateless(new Signal(100, 0));
    ExpectEmpty(*std::unique_ptr<Signal>(r.Run(rateless.get(), 20000)));
    ExpectEmpty(*std::unique_ptr<Signal>(r.Upsample(rateless.get(), 20000)));
    ExpectEmpty(*std::unique_ptr<Signal>(r.Downsample(rateless.get(), 20000)));
    auto tone = Tone(100, 44100, 440.0, 0.5);
    ExpectEmpty(*std::unique_ptr<Signal>(r.Run(tone.get(), 0)));
    ExpectEmpty(*std::unique_ptr<Signal>(r.Upsample(tone.get(), 0)));

    // A held signal whose length (3 * (2^32 - 1)) or rate (2 * 3e9) would not fit 32 bits.
    std::unique_ptr<Signal> slow(new Signal(3, 1));
    ExpectEmpty(*std::unique_ptr<Signal>(r.Run(slow.get(), 4294967295ul)));
    std::unique_ptr<Signal> fast(new Signal(10, 3000000000ul));
    ExpectEmpty(*std::unique_ptr<Signal>(r.Run(fast.get(), 4000000000ul)));
    // A "downsampling" to a far higher rate whose length would not fit either.
    std::unique_ptr<Signal> ten(new Signal(10, 1));
    ExpectEmpty(*std::unique_ptr<Signal>(r.Downsample(ten.get(), 4000000000ul)));
}

}  // namespace
