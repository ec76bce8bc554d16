#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "dsp/FilterIIR.h"
#include "dsp/HilbertFIR_Detector.h"
#include "dsp/RectLP_IIR_Detector.h"

namespace {

const double pi = 3.141592653589793;
const unsigned long fs = 20000;

std::unique_ptr<Signal> Tone(uint32_t length, double freq, double amplitude) {
    std::unique_ptr<Signal> s(new Signal(length, fs));
    for (uint32_t i = 0; i < length; i++) {
        s->Set(i, amplitude * std::sin(2.0 * pi * freq * i / fs));
    }
    return s;
}

struct Range {
    double min, max, mean;
};

Range Steady(const Signal& s, uint32_t from) {
    Range r{s.Get(from), s.Get(from), 0.0};
    for (uint32_t i = from; i < s.GetLength(); i++) {
        r.min = std::min(r.min, s.Get(i));
        r.max = std::max(r.max, s.Get(i));
        r.mean += s.Get(i);
    }
    r.mean /= static_cast<double>(s.GetLength() - from);
    return r;
}

void ExpectSameCoefficients(const FilterIIR& a, const FilterIIR& b) {
    ASSERT_EQ(a.GetNumCoeffs(), b.GetNumCoeffs());
    for (uint32_t k = 0; k < a.GetNumCoeffs(); k++) {
        EXPECT_EQ(a.GetA()[k], b.GetA()[k]);
        EXPECT_EQ(a.GetB()[k], b.GetB()[k]);
    }
}

TEST(HilbertFIR_DetectorTest, ToneAtTheCentreGivesItsAmplitude) {
    const struct {
        double low, high, tolerance;
    } bands[] = {{750.0, 1250.0, 3e-3},  // 500 Hz wide at 1000 Hz
                 {2000.0, 2500.0, 3e-3},
                 // The narrowest default band: its pair is ~0.8 degrees off quadrature, which
                 // leaves a ripple of ~0.7 % on the envelope.
                 {300.0, 396.411, 8e-3}};
    for (const auto& b : bands) {
        SCOPED_TRACE(testing::Message() << b.low << "-" << b.high);
        const double centre = (b.low + b.high) / 2.0;
        HilbertFIR_Detector detector(b.high - b.low, centre, fs);
        const double amplitude = 0.6;
        auto in = Tone(4000, centre, amplitude);
        std::unique_ptr<Signal> env(detector.Run(in.get()));
        ASSERT_EQ(env->GetLength(), 4000u);
        for (uint32_t i = 0; i < 100; i++) {
            ASSERT_EQ(env->Get(i), 0.0);
        }
        // From sample 200 on, the 100-tap window sees only the tone.
        const Range r = Steady(*env, 200);
        EXPECT_NEAR(r.min, amplitude, b.tolerance * amplitude);
        EXPECT_NEAR(r.max, amplitude, b.tolerance * amplitude);
    }
}

TEST(HilbertFIR_DetectorTest, ToneFarOutsideTheBandIsRejected) {
    HilbertFIR_Detector detector(500.0, 1000.0, fs);
    auto in = Tone(4000, 5000.0, 1.0);
    std::unique_ptr<Signal> env(detector.Run(in.get()));
    EXPECT_LT(Steady(*env, 200).max, 0.02);
}

TEST(RectLP_IIR_DetectorTest, ToneAtTheGeometricCentreGivesTwoOverPi) {
    RectLP_IIR_Detector detector(2000.0, 2500.0, fs);
    const double amplitude = 0.8;
    auto in = Tone(8000, std::sqrt(2000.0 * 2500.0), amplitude);
    std::unique_ptr<Signal> env(detector.Run(in.get()));
    ASSERT_EQ(env->GetLength(), 8000u);
    for (uint32_t i = 0; i < 3; i++) {
        EXPECT_EQ(env->Get(i), 0.0);
    }
    const Range r = Steady(*env, 2000);
    EXPECT_NEAR(r.mean, 2.0 * amplitude / pi, 1e-4 * amplitude);
    // The 350 Hz low-pass leaves a ripple at twice the tone's frequency: about 0.631 to 0.642.
    EXPECT_NEAR(r.min, 0.631 * amplitude, 5e-4 * amplitude);
    EXPECT_NEAR(r.max, 0.642 * amplitude, 5e-4 * amplitude);
}

TEST(RectLP_IIR_DetectorTest, BandReachingNyquistIsAHighPassAtItsLowerEdge) {
    // An upper edge at the Nyquist frequency (f_max 10000 at 20000 Hz) has no band-pass design.
    RectLP_IIR_Detector top(7900.0, 10000.0, 20000);
    ExpectSameCoefficients(*top.GetBandPass(), HP_FilterIIR(3, 20000.0, 7900.0));
    auto in = Tone(4000, 9000.0, 1.0);
    std::unique_ptr<Signal> env(top.Run(in.get()));
    for (uint32_t i = 0; i < env->GetLength(); i++) {
        ASSERT_TRUE(std::isfinite(env->Get(i))) << i;
    }
    EXPECT_GT(Steady(*env, 2000).mean, 0.5);  // a tone inside the band passes
}

TEST(RectLP_IIR_DetectorTest, EachDetectorDesignsItsLowPassAtItsOwnRate) {
    // Detectors at different rates, alive at once, in any order: none takes another's filter.
    std::unique_ptr<RectLP_IIR_Detector> d1(new RectLP_IIR_Detector(300.0, 396.411, 16000));
    RectLP_IIR_Detector d2(2000.0, 2500.0, fs);
    ExpectSameCoefficients(*d1->GetLowPass(), LP_FilterIIR(2, 16000.0, 350.0));
    ExpectSameCoefficients(*d2.GetLowPass(), LP_FilterIIR(2, static_cast<double>(fs), 350.0));

    // Deleting another detector changes nothing for the one left.
    auto in = Tone(2000, std::sqrt(2000.0 * 2500.0), 1.0);
    std::unique_ptr<Signal> before(d2.Run(in.get()));
    d1.reset();
    std::unique_ptr<Signal> after(d2.Run(in.get()));
    for (uint32_t i = 0; i < in->GetLength(); i++) {
        ASSERT_EQ(after->Get(i), before->Get(i));
    }
}

// Contract shared by both detectors.
class DetectorContract : public testing::TestWithParam<int> {
protected:
    std::unique_ptr<EnvelopeDetector> Make() const {
        if (GetParam() == 0) {
            return std::unique_ptr<EnvelopeDetector>(new HilbertFIR_Detector(500.0, 1000.0, fs));
        }
        return std::unique_ptr<EnvelopeDetector>(new RectLP_IIR_Detector(750.0, 1250.0, fs));
    }
};

TEST_P(DetectorContract, SilenceGivesSilence) {
    auto detector = Make();
    Signal in(1500, fs);
    std::unique_ptr<Signal> env(detector->Run(&in));
    ASSERT_EQ(env->GetLength(), 1500u);
    for (uint32_t i = 0; i < 1500; i++) {
        ASSERT_EQ(env->Get(i), 0.0);
    }
}

TEST_P(DetectorContract, LeavesInputUntouchedAndStartsFromRest) {
    auto detector = Make();
    auto in = Tone(1500, 1000.0, 0.5);
    const Signal copy(*in);
    std::unique_ptr<Signal> first(detector->Run(in.get()));
    std::unique_ptr<Signal> second(detector->Run(in.get()));
    ASSERT_NE(first.get(), in.get());
    ASSERT_EQ(first->GetLength(), in->GetLength());
    EXPECT_EQ(first->GetSampleRate(), in->GetSampleRate());
    for (uint32_t i = 0; i < in->GetLength(); i++) {
        ASSERT_EQ(in->Get(i), copy.Get(i));
        ASSERT_EQ(first->Get(i), second->Get(i));
    }
}

TEST_P(DetectorContract, ShortInputsKeepTheirLengthAndRate) {
    auto detector = Make();
    for (uint32_t length : {0u, 1u, 5u}) {
        Signal in(length, 44100);
        for (uint32_t i = 0; i < length; i++) {
            in.Set(i, 1.0);
        }
        std::unique_ptr<Signal> env(detector->Run(&in));
        ASSERT_EQ(env->GetLength(), length);
        EXPECT_EQ(env->GetSampleRate(), 44100u);
        for (uint32_t i = 0; i < length; i++) {
            EXPECT_EQ(env->Get(i), 0.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothDetectors, DetectorContract, testing::Values(0, 1),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == 0 ? std::string("HilbertFIR")
                                                    : std::string("RectLP_IIR");
                         });

}  // namespace
