#include <gtest/gtest.h>

#include <cmath>

#include "sim/Analyzer.h"
#include "sim/BandLayout.h"
#include "sim/Synthesizer.h"
#include "sim/TestSupport.h"

namespace {

// Worked values are printed to three decimals.
void ExpectMilli(double actual, double printed) {
    EXPECT_NEAR(actual, printed, 6e-4) << "printed value " << printed;
}

void ExpectSameBands(const Analyzer& a, const Synthesizer& s, unsigned n) {
    for (unsigned i = 0; i < n; i++) {
        EXPECT_EQ(a.GetLowFreq()[i], s.GetLowFreq()[i]) << "band " << i;
        EXPECT_EQ(a.GetHighFreq()[i], s.GetHighFreq()[i]) << "band " << i;
        EXPECT_EQ(a.GetCenterFreq()[i], s.GetCenterFreq()[i]) << "band " << i;
        EXPECT_EQ(a.GetBandwidth()[i], s.GetBandwidth()[i]) << "band " << i;
    }
}

TEST(BandLayout, DefaultAnalysisBandsMatchTheWorkedExample) {
    Parameters p;  // 300 - 8500 Hz, 12 inserted channels, no eas
    Analyzer a(&p, kRate);
    ExpectMilli(a.GetLowFreq()[0], 300.000);
    ExpectMilli(a.GetHighFreq()[0], 396.411);
    ExpectMilli(a.GetCenterFreq()[0], 348.206);
    ExpectMilli(a.GetBandwidth()[0], 96.411);
    ExpectMilli(a.GetLowFreq()[1], 396.411);
    ExpectMilli(a.GetHighFreq()[1], 523.806);
    ExpectMilli(a.GetLowFreq()[11], 6432.712);
    ExpectMilli(a.GetHighFreq()[11], 8500.000);
    ExpectMilli(a.GetCenterFreq()[11], 7466.356);
    ExpectMilli(a.GetBandwidth()[11], 2067.288);
}

TEST(BandLayout, BandsAreContiguousAndSpanTheRange) {
    double lo[7], hi[7], ce[7], bw[7];
    CalculateBandLayout(150.0, 7000.0, 7, lo, hi, ce, bw);
    for (int i = 0; i + 1 < 7; i++) {
        EXPECT_EQ(hi[i], lo[i + 1]) << "edge " << i;
        // Equal widths on a log axis: every band has the same ratio of edges.
        EXPECT_NEAR(hi[i] / lo[i], hi[i + 1] / lo[i + 1], 1e-12);
    }
    EXPECT_NEAR(lo[0], 150.0, 1e-9);
    EXPECT_NEAR(hi[6], 7000.0, 1e-9);
}

TEST(BandLayout, OneChannelSpansTheWholeRange) {
    std::unique_ptr<Parameters> p = ChannelParams(1, 1);
    Analyzer a(p.get(), kRate);
    EXPECT_NEAR(a.GetLowFreq()[0], 300.0, 1e-9);
    EXPECT_NEAR(a.GetHighFreq()[0], 8500.0, 1e-9);
    EXPECT_NEAR(a.GetCenterFreq()[0], 4400.0, 1e-9);
}

TEST(BandLayout, EasStartsTheImplantRangeAtTheCutoff) {
    Parameters p;
    p.f_min->SetValue(500.0);  // plays no part under eas
    p.eas->SetValue(true);
    Analyzer a(&p, kRate);
    ExpectMilli(a.GetLowFreq()[0], 2000.000);
    ExpectMilli(a.GetHighFreq()[0], 2256.294);
    EXPECT_NEAR(a.GetHighFreq()[11], 8500.0, 1e-9);
}

TEST(BandLayout, SynthesisBandsEqualAnalysisBandsWithoutShift) {
    for (bool eas : {false, true}) {
        for (unsigned inserted : {12u, 8u, 1u}) {
            std::unique_ptr<Parameters> p = ChannelParams(inserted, inserted);
            p->f_min->SetValue(250.0);
            p->f_max->SetValue(7900.0);
            p->cutoff_freq->SetValue(1500.0);
            p->eas->SetValue(eas);
            Analyzer a(p.get(), kRate);
            Synthesizer s(p.get(), kRate);
            SCOPED_TRACE(testing::Message() << "eas " << eas << ", channels " << inserted);
            ExpectSameBands(a, s, inserted);
        }
    }
}

TEST(BandLayout, FrequencyShiftPlacesBandsAtTheElectrodes) {
    struct Case {
        unsigned inserted;
        double fLow;  // printed to two decimals
    };
    for (const Case& c : {Case{12, 202.35}, Case{8, 742.48}}) {
        for (bool eas : {false, true}) {
            std::unique_ptr<Parameters> p = ChannelParams(c.inserted, c.inserted);
            // None of these enters the shifted layout.
            p->f_min->SetValue(1000.0);
            p->f_max->SetValue(5000.0);
            p->eas->SetValue(eas);
            p->freq_shift->SetValue(true);
            Synthesizer s(p.get(), kRate);
            SCOPED_TRACE(testing::Message() << c.inserted << " inserted, eas " << eas);
            EXPECT_NEAR(s.GetLowFreq()[0], c.fLow, 6e-3);
            EXPECT_NEAR(s.GetHighFreq()[c.inserted - 1], 9900.0, 1e-9);
            // The analysis is not shifted.
            Analyzer a(p.get(), kRate);
            EXPECT_NE(a.GetLowFreq()[0], s.GetLowFreq()[0]);
        }
    }
}

void ExpectFiniteSynthesis(Parameters* p) {
    Synthesizer s(p, kRate);
    const unsigned n = p->n_inserted_ch->GetValue();
    std::unique_ptr<SignalVector> env(
        MakeVector(std::vector<std::vector<double>>(n, SpeechLike(3000))));
    std::unique_ptr<Signal> out(s.Run(env.get(), nullptr));
    ASSERT_EQ(out->GetLength(), 3000u);
    for (uint32_t j = 0; j < out->GetLength(); j++) {
        ASSERT_TRUE(std::isfinite(out->Get(j))) << "sample " << j;
    }
}

TEST(BandLayout, DegenerateSynthesisBandsKeepTheOutputFinite) {
    {
        // 1 mm array, 50 channels, one inserted: the depth puts fLow above 9900 Hz.
        Parameters p;
        p.length_ci->SetValue(1.0);
        p.n_chan_ci->SetValue(50);
        p.n_inserted_ch->SetValue(1);
        p.freq_shift->SetValue(true);
        Synthesizer s(&p, kRate);
        EXPECT_GT(s.GetLowFreq()[0], 9900.0);
        EXPECT_LT(s.GetBandwidth()[0], 0.0);
        ExpectFiniteSynthesis(&p);
    }
    {
        // f_max equal to f_min: every band has zero width.
        std::unique_ptr<Parameters> p = ChannelParams(4, 4);
        p->f_min->SetValue(1000.0);
        p->f_max->SetValue(1000.0);
        Synthesizer s(p.get(), kRate);
        EXPECT_EQ(s.GetBandwidth()[2], 0.0);
        ExpectFiniteSynthesis(p.get());
    }
}

}  // namespace
