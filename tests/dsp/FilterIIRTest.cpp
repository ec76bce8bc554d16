#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <stdexcept>
#include <vector>

#include "dsp/FilterIIR.h"

namespace {

const double pi = 3.141592653589793;
const double fs = 20000.0;

// Magnitude of the transfer function sum(b z^-k) / sum(a z^-k) at f Hz, straight from the
// coefficients.
double Magnitude(const FilterIIR& f, double freq, double sample_rate) {
    const std::complex<double> zinv = std::polar(1.0, -2.0 * pi * freq / sample_rate);
    std::complex<double> num = 0.0, den = 0.0, p = 1.0;
    for (uint32_t k = 0; k < f.GetNumCoeffs(); k++) {
        num += f.GetB()[k] * p;
        den += f.GetA()[k] * p;
        p *= zinv;
    }
    return std::abs(num / den);
}

// Direct-form coefficients of steep or narrow designs are ill-conditioned: rounding in the
// last digits moves the response by up to ~1e-7, while a design slip moves it by percents.
const double responseTolerance = 1e-6;

// Printed worked values carry 9-10 significant digits.
void ExpectCoeffs(const double* actual, const std::vector<double>& expected) {
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_NEAR(actual[i], expected[i], 5e-9 * std::fabs(expected[i])) << "index " << i;
    }
}

std::unique_ptr<Signal> Tone(uint32_t length, double freq, double amplitude) {
    std::unique_ptr<Signal> s(new Signal(length, static_cast<unsigned long>(fs)));
    for (uint32_t i = 0; i < length; i++) {
        s->Set(i, amplitude * std::sin(2.0 * pi * freq * i / fs));
    }
    return s;
}

double Sum(const double* v, uint32_t n) {
    double s = 0.0;
    for (uint32_t i = 0; i < n; i++) {
        s += v[i];
    }
    return s;
}

TEST(FilterIIRDesign, WorkedCoefficientSets) {
    LP_FilterIIR lp750(2, fs, 750.0);
    ASSERT_EQ(lp750.GetNumCoeffs(), 3u);
    ExpectCoeffs(lp750.GetB(), {0.01185768264, 0.02371536529, 0.01185768264});
    ExpectCoeffs(lp750.GetA(), {1.0, -1.669203143, 0.7166338735});

    LP_FilterIIR lp350(2, fs, 350.0);
    ExpectCoeffs(lp350.GetB(), {0.002802096728, 0.005604193456, 0.002802096728});
    ExpectCoeffs(lp350.GetA(), {1.0, -1.844778405, 0.8559867919});

    HP_FilterIIR hp750(2, fs, 750.0);
    ExpectCoeffs(hp750.GetB(), {0.8464592541, -1.692918508, 0.8464592541});
    ExpectCoeffs(hp750.GetA(), {1.0, -1.669203143, 0.7166338735});

    BP_FilterIIR bp1(1, fs, 1000.0, 2000.0);
    ASSERT_EQ(bp1.GetNumCoeffs(), 3u);
    ExpectCoeffs(bp1.GetB(), {0.136728736, 0.0, -0.136728736});
    ExpectCoeffs(bp1.GetA(), {1.0, -1.557536516, 0.726542528});

    BP_FilterIIR bp3(3, fs, 300.0, 396.411);
    ASSERT_EQ(bp3.GetNumCoeffs(), 7u);
    ExpectCoeffs(bp3.GetB(),
                 {3.370423011e-6, 0.0, -1.011126903e-5, 0.0, 1.011126903e-5, 0.0, -3.370423011e-6});
    ExpectCoeffs(bp3.GetA(), {1.0, -5.904600625, 14.56145235, -19.19753778, 14.27035151,
                              -5.670883171, 0.9412192837});
}

TEST(FilterIIRDesign, OrderAndCoefficientCount) {
    for (unsigned int order = 1; order <= 4; order++) {
        EXPECT_EQ(LP_FilterIIR(order, fs, 1000.0).GetNumCoeffs(), order + 1);
        EXPECT_EQ(HP_FilterIIR(order, fs, 1000.0).GetOrder(), order);
    }
    for (unsigned int order = 1; order <= 3; order++) {
        BP_FilterIIR bp(order, fs, 1000.0, 2000.0);
        EXPECT_EQ(bp.GetOrder(), order);
        EXPECT_EQ(bp.GetNumCoeffs(), 2 * order + 1);
    }
}

TEST(FilterIIRDesign, UnsupportedOrdersAreRefused) {
    EXPECT_THROW(LP_FilterIIR(0, fs, 750.0), std::invalid_argument);
    EXPECT_THROW(LP_FilterIIR(5, fs, 750.0), std::invalid_argument);
    EXPECT_THROW(HP_FilterIIR(0, fs, 750.0), std::invalid_argument);
    EXPECT_THROW(HP_FilterIIR(5, fs, 750.0), std::invalid_argument);
    EXPECT_THROW(BP_FilterIIR(0, fs, 1000.0, 2000.0), std::invalid_argument);
    EXPECT_THROW(BP_FilterIIR(4, fs, 1000.0, 2000.0), std::invalid_argument);
}

TEST(FilterIIRDesign, LowAndHighPassAreMinus3dBAtCutoffForEveryOrder) {
    const double rates[] = {20000.0, 44100.0};
    const double cutoffs[] = {100.0, 350.0, 750.0, 3000.0, 8000.0};
    for (double rate : rates) {
        for (double fc : cutoffs) {
            for (unsigned int order = 1; order <= 4; order++) {
                SCOPED_TRACE(testing::Message()
                             << "rate " << rate << " fc " << fc << " order " << order);
                LP_FilterIIR lp(order, rate, fc);
                HP_FilterIIR hp(order, rate, fc);
                EXPECT_NEAR(Magnitude(lp, fc, rate), std::sqrt(0.5), responseTolerance);
                EXPECT_NEAR(Magnitude(hp, fc, rate), std::sqrt(0.5), responseTolerance);
                // Butterworth: flat at the far end of the pass band, steeper with each order.
                EXPECT_NEAR(Magnitude(lp, 0.0, rate), 1.0, responseTolerance);
                EXPECT_NEAR(Magnitude(hp, rate / 2.0, rate), 1.0, responseTolerance);
                EXPECT_LT(Magnitude(lp, fc * 1.5, rate), std::sqrt(0.5));
                EXPECT_LT(Magnitude(hp, fc / 1.5, rate), std::sqrt(0.5));
            }
        }
    }
}

TEST(FilterIIRDesign, DcGainsAndSharedDenominator) {
    for (unsigned int order = 1; order <= 4; order++) {
        LP_FilterIIR lp(order, fs, 750.0);
        HP_FilterIIR hp(order, fs, 750.0);
        const uint32_t n = lp.GetNumCoeffs();
        EXPECT_NEAR(Sum(lp.GetB(), n), Sum(lp.GetA(), n), 1e-12 * Sum(lp.GetB(), n) + 1e-15);
        double scale = 0.0;
        for (uint32_t k = 0; k < n; k++) {
            scale = std::max(scale, std::fabs(hp.GetB()[k]));
            EXPECT_EQ(lp.GetA()[k], hp.GetA()[k]) << "order " << order << " index " << k;
        }
        EXPECT_NEAR(Sum(hp.GetB(), n), 0.0, 1e-12 * scale);
        EXPECT_EQ(lp.GetA()[0], 1.0);
    }
}

TEST(FilterIIRDesign, BandPassEdgesCentreAndDc) {
    const double bands[][2] = {
        {1000.0, 2000.0}, {300.0, 396.411}, {2000.0, 2500.0}, {100.0, 8000.0}};
    for (const auto& band : bands) {
        for (unsigned int order = 1; order <= 3; order++) {
            SCOPED_TRACE(testing::Message() << band[0] << "-" << band[1] << " order " << order);
            BP_FilterIIR bp(order, fs, band[0], band[1]);
            EXPECT_NEAR(Magnitude(bp, band[0], fs), std::sqrt(0.5), responseTolerance);
            EXPECT_NEAR(Magnitude(bp, band[1], fs), std::sqrt(0.5), responseTolerance);
            // Unit gain where the geometric centre of the prewarped edges lands.
            const double fa1 = std::tan(pi * band[0] / fs) * fs / pi;
            const double fa2 = std::tan(pi * band[1] / fs) * fs / pi;
            const double centre = std::atan(pi * std::sqrt(fa1 * fa2) / fs) * fs / pi;
            EXPECT_NEAR(Magnitude(bp, centre, fs), 1.0, responseTolerance);
            EXPECT_NEAR(Magnitude(bp, 0.0, fs), 0.0, 1e-12);
            const uint32_t n = bp.GetNumCoeffs();
            for (uint32_t k = 1; k < n; k += 2) {
                EXPECT_EQ(bp.GetB()[k], 0.0);
            }
            EXPECT_NEAR(Sum(bp.GetB(), n), 0.0, 1e-12 * std::fabs(bp.GetB()[0]));
        }
    }
    // The worked centre of the 1000-2000 Hz band.
    EXPECT_NEAR(Magnitude(BP_FilterIIR(1, fs, 1000.0, 2000.0), 1420.15, fs), 1.0, 1e-6);
}

TEST(FilterIIRDesign, CoincidentBandEdgesGiveAFiniteSilentFilter) {
    const double edges[] = {0.0, 1000.0, 5000.0};
    for (double f : edges) {
        for (unsigned int order = 1; order <= 3; order++) {
            BP_FilterIIR bp(order, fs, f, f);
            for (uint32_t k = 0; k < bp.GetNumCoeffs(); k++) {
                EXPECT_TRUE(std::isfinite(bp.GetA()[k])) << f << " order " << order;
                EXPECT_TRUE(std::isfinite(bp.GetB()[k])) << f << " order " << order;
            }
            auto in = Tone(500, 1000.0, 1.0);
            std::unique_ptr<Signal> out(bp.Run(in.get()));
            for (uint32_t i = 0; i < out->GetLength(); i++) {
                ASSERT_EQ(out->Get(i), 0.0);
            }
        }
    }
}

TEST(FilterIIRRun, ImpulseFollowsTheDifferenceEquation) {
    LP_FilterIIR lp(2, fs, 750.0);
    const double* a = lp.GetA();
    const double* b = lp.GetB();
    const uint32_t p = 5;
    Signal impulse(20, 20000);
    impulse.Set(p, 1.0);
    std::unique_ptr<Signal> y(lp.Run(&impulse));
    for (uint32_t n = 0; n < p; n++) {
        EXPECT_EQ(y->Get(n), 0.0);
    }
    EXPECT_EQ(y->Get(p), b[0]);
    EXPECT_EQ(y->Get(p + 1), b[1] - a[1] * b[0]);
    EXPECT_EQ(y->Get(p + 2), (b[2] - a[2] * b[0]) - a[1] * y->Get(p + 1));
    EXPECT_EQ(y->Get(p + 3), -a[1] * y->Get(p + 2) - a[2] * y->Get(p + 1));
}

TEST(FilterIIRRun, StartUpSamplesAreZeroAndFirstInputNeverReachesOutput) {
    BP_FilterIIR bp(3, fs, 1000.0, 2000.0);
    auto in = Tone(200, 1500.0, 1.0);
    for (uint32_t i = 0; i < in->GetLength(); i++) {
        in->Set(i, in->Get(i) + 0.25);  // no zero samples at the start
    }
    std::unique_ptr<Signal> out(bp.Run(in.get()));
    for (uint32_t n = 0; n < 7; n++) {
        EXPECT_EQ(out->Get(n), 0.0);
    }
    EXPECT_NE(out->Get(7), 0.0);

    Signal first(50, 20000);
    first.Set(0, 1.0);
    std::unique_ptr<Signal> silent(bp.Run(&first));
    for (uint32_t n = 0; n < 50; n++) {
        EXPECT_EQ(silent->Get(n), 0.0);
    }
}

TEST(FilterIIRRun, SteadyToneIsScaledByTheMagnitudeResponse) {
    LP_FilterIIR lp(2, fs, 750.0);
    BP_FilterIIR bp(3, fs, 300.0, 396.411);
    struct Case {
        FilterIIR* filter;
        double freq;
    } cases[] = {{&lp, 750.0}, {&lp, 300.0}, {&lp, 2000.0}, {&bp, 345.0}, {&bp, 300.0}};
    for (const Case& c : cases) {
        // 20000 samples; measure the RMS over the last 10000, a whole number of periods.
        auto in = Tone(20000, c.freq, 0.5);
        std::unique_ptr<Signal> out(c.filter->Run(in.get()));
        double energy = 0.0;
        for (uint32_t i = 10000; i < 20000; i++) {
            energy += out->Get(i) * out->Get(i);
        }
        const double amplitude = std::sqrt(energy / 10000.0) * std::sqrt(2.0);
        EXPECT_NEAR(amplitude, 0.5 * Magnitude(*c.filter, c.freq, fs), 2e-3) << c.freq;
    }
}

TEST(FilterIIRRun, LeavesInputUntouchedAndStartsFromRest) {
    BP_FilterIIR bp(3, fs, 2000.0, 2500.0);
    auto in = Tone(3000, 2200.0, 0.8);
    const Signal copy(*in);
    std::unique_ptr<Signal> first(bp.Run(in.get()));
    std::unique_ptr<Signal> second(bp.Run(in.get()));
    ASSERT_NE(first.get(), in.get());
    ASSERT_EQ(first->GetLength(), in->GetLength());
    EXPECT_EQ(first->GetSampleRate(), in->GetSampleRate());
    for (uint32_t i = 0; i < in->GetLength(); i++) {
        ASSERT_EQ(in->Get(i), copy.Get(i));
        ASSERT_EQ(first->Get(i), second->Get(i));
    }
}

TEST(FilterIIRRun, ShortInputsGiveSilenceOfTheSameLength) {
    BP_FilterIIR bp(3, fs, 1000.0, 2000.0);
    for (uint32_t length : {0u, 1u, 6u, 7u}) {
        auto in = Tone(length, 1500.0, 1.0);
        for (uint32_t i = 0; i < length; i++) {
            in->Set(i, 1.0);
        }
        std::unique_ptr<Signal> out(bp.Run(in.get()));
        ASSERT_EQ(out->GetLength(), length);
        for (uint32_t i = 0; i < length; i++) {
            EXPECT_EQ(out->Get(i), 0.0);
        }
    }
}

}  // namespace
