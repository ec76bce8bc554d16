#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <memory>

#include "dsp/FilterFIR.h"

namespace {

const double pi = 3.141592653589793;
const unsigned long fs = 20000;

std::unique_ptr<Signal> Tone(uint32_t length, double freq) {
    std::unique_ptr<Signal> s(new Signal(length, fs));
    for (uint32_t i = 0; i < length; i++) {
        s->Set(i, std::sin(2.0 * pi * freq * i / fs));
    }
    return s;
}

// Complex amplitude of the component at freq in y[from..], over the whole number of periods
// that fits; the conjugate component's leakage is below 1e-4 for the lengths used here.
std::complex<double> Phasor(const Signal& y, double freq, uint32_t from) {
    const double period = static_cast<double>(fs) / freq;
    const uint32_t count =
        static_cast<uint32_t>(std::floor((y.GetLength() - from) / period) * period + 0.5);
    std::complex<double> sum = 0.0;
    for (uint32_t n = from; n < from + count; n++) {
        sum += y.Get(n) * std::polar(1.0, -2.0 * pi * freq * n / fs);
    }
    return 2.0 * sum / static_cast<double>(count);
}

// Indices of the first and last non-zero taps.
std::pair<int, int> OccupiedTaps(const FilterFIR& f) {
    int first = -1, last = -1;
    for (int k = 0; k < 100; k++) {
        if (f.GetCoeffs()[k] != 0.0) {
            if (first < 0) {
                first = k;
            }
            last = k;
        }
    }
    return {first, last};
}

bool AllFinite(const FilterFIR& f) {
    for (int k = 0; k < 100; k++) {
        if (!std::isfinite(f.GetCoeffs()[k])) {
            return false;
        }
    }
    return true;
}

TEST(FilterFIRDesign, WorkedTapRangesAndCentreTaps) {
    FilterHilbertCos cos500(500.0, 1000.0, fs);
    FilterHilbertSin sin500(500.0, 1000.0, fs);
    EXPECT_EQ(OccupiedTaps(cos500), std::make_pair(19, 80));
    EXPECT_EQ(OccupiedTaps(sin500), std::make_pair(20, 80));
    EXPECT_NEAR(cos500.GetCoeffs()[50], -0.05660014205, 1e-9 * 0.0566);
    EXPECT_NEAR(sin500.GetCoeffs()[50], -0.0185295977, 5e-9 * 0.0185);

    EXPECT_EQ(OccupiedTaps(FilterHilbertCos(96.411, 348.2055, fs)), std::make_pair(0, 99));
    EXPECT_EQ(OccupiedTaps(FilterHilbertCos(2067.288, 3000.0, fs)), std::make_pair(43, 56));
}

TEST(FilterFIRDesign, WindowIsEvenAndPeaksOnTapFifty) {
    // At 0 Hz the cosine carrier is 1 and the test tone is silent, so the taps stay the raw
    // Hamming window: 0.08 at its first tap, 1 at its peak, symmetric about tap 50.
    const struct {
        double width;
        int n;  // 1.53 * 20000 / width, truncated, clamped to 100, rounded up to even
    } cases[] = {{500.0, 62},  {96.411, 100}, {2067.288, 14}, {1100.0, 28},
                 {1000.0, 30}, {3000.0, 10},  {20000.0, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        FilterHilbertCos window(c.width, 0.0, fs);
        const double* h = window.GetCoeffs();
        EXPECT_EQ(OccupiedTaps(window), std::make_pair(50 - c.n / 2, 49 + c.n / 2));
        EXPECT_NEAR(h[50 - c.n / 2], 0.08, 1e-15);
        EXPECT_NEAR(h[50], 1.0, 1e-15);
        for (int d = 1; d < c.n / 2; d++) {
            EXPECT_NEAR(h[50 - d], h[50 + d], 1e-15) << d;
            EXPECT_LT(h[50 + d], h[50]);
        }
    }
}

TEST(FilterFIRDesign, UnitGainAndQuadratureAtTheCentre) {
    const struct {
        double width, centre;
    } bands[] = {{500.0, 1000.0},  {96.411, 348.2055}, {500.0, 2250.0},
                 {1000.0, 3000.0}, {2067.288, 6000.0}, {306.0, 5000.0}};
    for (const auto& b : bands) {
        SCOPED_TRACE(testing::Message() << b.width << " Hz at " << b.centre);
        FilterHilbertSin sine(b.width, b.centre, fs);
        FilterHilbertCos cosine(b.width, b.centre, fs);
        auto in = Tone(20000, b.centre);
        std::unique_ptr<Signal> ys(sine.Run(in.get()));
        std::unique_ptr<Signal> yc(cosine.Run(in.get()));
        const std::complex<double> ps = Phasor(*ys, b.centre, 200);
        const std::complex<double> pc = Phasor(*yc, b.centre, 200);
        EXPECT_NEAR(std::abs(ps), 1.0, 3e-3);
        EXPECT_NEAR(std::abs(pc), 1.0, 3e-3);
        // The sine output lags the cosine output by a quarter period.
        EXPECT_NEAR(std::arg(ps / pc) * 180.0 / pi, -90.0, 1.0);
    }
}

TEST(FilterFIRDesign, WorkedQuadratureAngle) {
    FilterHilbertSin sine(500.0, 1000.0, fs);
    FilterHilbertCos cosine(500.0, 1000.0, fs);
    auto in = Tone(20000, 1000.0);
    std::unique_ptr<Signal> ys(sine.Run(in.get()));
    std::unique_ptr<Signal> yc(cosine.Run(in.get()));
    const double angle = std::arg(Phasor(*yc, 1000.0, 200) / Phasor(*ys, 1000.0, 200));
    EXPECT_NEAR(angle * 180.0 / pi, 89.89, 0.005);
}

TEST(FilterFIRDesign, DegenerateWidthsGiveFiniteTaps) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Widths without a finite positive value take the longest window, like any narrow band.
    FilterHilbertSin longest(10.0, 1000.0, fs);
    for (double width : {0.0, -0.0, inf, -inf, nan, 1e-300}) {
        SCOPED_TRACE(width);
        FilterHilbertSin f(width, 1000.0, fs);
        ASSERT_TRUE(AllFinite(f));
        for (int k = 0; k < 100; k++) {
            EXPECT_EQ(f.GetCoeffs()[k], longest.GetCoeffs()[k]) << k;
        }
    }
    // A negative width is its magnitude.
    FilterHilbertCos positive(500.0, 1000.0, fs);
    FilterHilbertCos negative(-500.0, 1000.0, fs);
    for (int k = 0; k < 100; k++) {
        EXPECT_EQ(negative.GetCoeffs()[k], positive.GetCoeffs()[k]) << k;
    }
    // Wider than 1.53 * fs: no tap at all, and the normalisation leaves it silent.
    FilterHilbertSin empty(1e9, 1000.0, fs);
    EXPECT_EQ(OccupiedTaps(empty), std::make_pair(-1, -1));
    // A carrier that cannot be evaluated gives a silent filter too.
    EXPECT_TRUE(AllFinite(FilterHilbertCos(500.0, inf, fs)));
    EXPECT_TRUE(AllFinite(FilterHilbertCos(0.0, 1000.0, 0)));
}

TEST(FilterFIRDesign, ZeroEnergyResponseKeepsTaps) {
    // At half the sample rate the test tone sin(pi*i) is (numerically almost) silent; at 0 Hz
    // it is exactly silent. Neither may produce an infinite gain.
    FilterHilbertCos dc(500.0, 0.0, fs);
    EXPECT_TRUE(AllFinite(dc));
    EXPECT_NEAR(dc.GetCoeffs()[50], 1.0, 1e-15);
    FilterHilbertSin dcSine(500.0, 0.0, fs);
    EXPECT_EQ(OccupiedTaps(dcSine), std::make_pair(-1, -1));
    EXPECT_TRUE(AllFinite(FilterHilbertSin(500.0, 10000.0, fs)));
}

TEST(FilterFIRRun, ImpulseResponseIsTheTaps) {
    FilterHilbertCos f(500.0, 1000.0, fs);
    for (uint32_t p : {1u, 37u, 150u}) {
        SCOPED_TRACE(p);
        Signal impulse(400, fs);
        impulse.Set(p, 1.0);
        std::unique_ptr<Signal> y(f.Run(&impulse));
        for (uint32_t n = 0; n < 400; n++) {
            const bool reached = n >= 100 && n >= p && n - p < 100;
            EXPECT_EQ(y->Get(n), reached ? f.GetCoeffs()[n - p] : 0.0) << n;
        }
    }
    Signal first(300, fs);
    first.Set(0, 1.0);
    std::unique_ptr<Signal> y(f.Run(&first));
    for (uint32_t n = 0; n < 300; n++) {
        EXPECT_EQ(y->Get(n), 0.0);
    }
}

TEST(FilterFIRRun, ShortInputsGiveSilenceOfTheSameLength) {
    FilterHilbertSin f(500.0, 1000.0, fs);
    for (uint32_t length : {0u, 1u, 99u, 100u}) {
        Signal in(length, 16000);
        for (uint32_t i = 0; i < length; i++) {
            in.Set(i, 1.0);
        }
        std::unique_ptr<Signal> out(f.Run(&in));
        ASSERT_EQ(out->GetLength(), length);
        EXPECT_EQ(out->GetSampleRate(), 16000u);
        for (uint32_t i = 0; i < length; i++) {
            EXPECT_EQ(out->Get(i), 0.0);
        }
    }
}

TEST(FilterFIRRun, LeavesInputUntouchedAndStartsFromRest) {
    FilterHilbertCos f(500.0, 1000.0, fs);
    auto in = Tone(1000, 1100.0);
    const Signal copy(*in);
    std::unique_ptr<Signal> first(f.Run(in.get()));
    std::unique_ptr<Signal> second(f.Run(in.get()));
    ASSERT_NE(first.get(), in.get());
    EXPECT_EQ(first->GetSampleRate(), in->GetSampleRate());
    ASSERT_EQ(first->GetLength(), in->GetLength());
    for (uint32_t i = 0; i < in->GetLength(); i++) {
        ASSERT_EQ(in->Get(i), copy.Get(i));
        ASSERT_EQ(first->Get(i), second->Get(i));
    }
}

}  // namespace
