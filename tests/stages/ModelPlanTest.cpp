// What the implant models make of the plan and of the sound: the maps' bands, switched-off
// electrodes in the bands, the spread and the places, and the tone carrier.
#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "engine/Engine.h"
#include "params/Models.h"
#include "params/ValueKinds.h"
#include "stages/Plan.h"
#include "stages/Spread.h"
#include "stages/Tone.h"

namespace {

const double kPi = 3.14159265358979323846;

cihear::Settings Effective(const std::vector<std::pair<std::string, cihear::Value>>& values) {
    const cihear::Applied a = cihear::ApplyStrict(values);
    EXPECT_TRUE(a.ok()) << (a.ok() ? "" : a.errors[0].text);
    return a.settings;
}

stages::Plan PlanOf(const cihear::Settings& s) {
    return stages::MakePlan(engine::Effective(s), cihear::kOutputRate);
}

TEST(ModelPlanTest, TheMapsBandsAreThePublishedTables) {
    for (const char* map : {"nucleus22", "ab16", "medel12"}) {
        SCOPED_TRACE(map);
        const cihear::Design d = cihear::Describe(Effective({{"map", map}}));
        const std::vector<double> table =
            params::MapEdges(*params::FindChoice(*cihear::FindParameter("map"), map));
        ASSERT_EQ(d.bands.size() + 1, table.size());
        for (size_t c = 0; c < d.bands.size(); c++) {
            EXPECT_EQ(d.bands[c].low, table[c]);
            EXPECT_EQ(d.bands[c].high, table[c + 1]);
            EXPECT_EQ(d.synthesisBands[c].low, table[c]);  // no freq_shift: heard where analysed
            EXPECT_EQ(d.electrodes[c], c + 1);
        }
        EXPECT_EQ(d.electrodeCount, d.bands.size());
    }
}

TEST(ModelPlanTest, SwitchedOffElectrodesLeaveTheRangeToTheOthers) {
    const cihear::Settings s = Effective({{"off", std::vector<double>{3, 7}}, {"freq_shift", 1}});
    const stages::Plan plan = PlanOf(s);
    EXPECT_EQ(plan.channels, 10u);
    EXPECT_EQ(plan.electrodeCount, 12u);
    EXPECT_EQ(plan.electrodes, (std::vector<uint32_t>{1, 2, 4, 5, 6, 8, 9, 10, 11, 12}));
    // The whole range over the ten active electrodes, log-spaced.
    EXPECT_NEAR(plan.analysis.low.front(), 300, 1e-9);
    EXPECT_NEAR(plan.analysis.high.back(), 8500, 1e-9);
    const double step = std::log(8500.0 / 300.0) / 10;
    for (uint32_t c = 0; c < 10; c++) {
        EXPECT_NEAR(std::log(plan.analysis.high[c] / plan.analysis.low[c]), step, 1e-12);
    }
    // Each active electrode is heard at its own place: the band it has with every electrode on.
    cihear::Settings all = s;
    all.off.clear();
    const stages::Plan full = PlanOf(all);
    for (uint32_t c = 0; c < 10; c++) {
        EXPECT_EQ(plan.synthesis.low[c], full.synthesis.low[plan.electrodes[c] - 1]);
        EXPECT_EQ(plan.synthesis.high[c], full.synthesis.high[plan.electrodes[c] - 1]);
    }
    // The spread between active electrodes is by their distance on the array: electrodes 2 and 4
    // (channels 1 and 2) are two spacings apart, 6 and 8 (channels 4 and 5) too.
    std::vector<std::vector<double>> rows(plan.channels, std::vector<double>(4, 0.0));
    rows[1][0] = 1.0;
    rows[4][1] = 1.0;
    std::vector<double*> r;
    for (auto& row : rows) {
        r.push_back(row.data());
    }
    stages::Spread(plan, r.data(), 0, 4);
    const double f = plan.interactionFactor;
    EXPECT_DOUBLE_EQ(rows[0][0], f);
    EXPECT_DOUBLE_EQ(rows[2][0], f * f);
    EXPECT_DOUBLE_EQ(rows[3][1], f);
    EXPECT_DOUBLE_EQ(rows[5][1], f * f);
    EXPECT_DOUBLE_EQ(rows[9][0], std::pow(f, 10));  // electrode 12 from electrode 2
}

TEST(ModelPlanTest, SwitchedOffElectrodesHaveNoRowInTheElectrodogram) {
    std::vector<double> x(20000);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.2);
    for (double& v : x) {
        v = noise(random);
    }
    cihear::Options options;
    options.inspect = true;
    const cihear::Settings s = Effective({{"off", std::vector<double>{1, 12}}, {"n_on", 4}});
    const cihear::Result r = cihear::Simulate(x.data(), x.size(), 20000, s, options);
    ASSERT_TRUE(r.status.ok());
    EXPECT_EQ(r.inspection.channels, 10u);
    EXPECT_EQ(r.inspection.design.off, (std::vector<uint32_t>{1, 12}));
    EXPECT_EQ(r.inspection.design.electrodes.front(), 2u);
    // Four of the ten selected in every frame once every band has sound (after 10 ms).
    ASSERT_GT(r.inspection.frames, 100u);
    for (size_t frame = 20; frame < r.inspection.frames; frame++) {
        int selected = 0;
        for (size_t c = 0; c < r.inspection.channels; c++) {
            selected += r.inspection.selected[c * r.inspection.frames + frame];
        }
        EXPECT_EQ(selected, 4) << frame;
    }
}

TEST(ToneTest, IsTheSineOfItsPhaseWhateverTheBlocks) {
    for (double x : {0.0, 0.1, 0.785, 1.0, 2.5, 3.14159, 4.0, 5.5, 6.28}) {
        double s;
        double c;
        stages::SinCos(x, &s, &c);
        EXPECT_NEAR(s, std::sin(x), 4e-16) << x;
        EXPECT_NEAR(c, std::cos(x), 4e-16) << x;
    }
    const double f = 1234.5;
    const double phase = stages::StartPhase(17, 3);
    EXPECT_GE(phase, 0.0);
    EXPECT_LT(phase, 2 * kPi);
    EXPECT_NE(phase, stages::StartPhase(17, 4));
    EXPECT_NE(phase, stages::StartPhase(18, 3));
    const size_t n = 50000;  // past several renormalisations
    std::vector<double> ones(n, 1.0);
    std::vector<double> whole(n);
    stages::Tone tone(f, 20000, phase);
    tone.Modulate(ones.data(), n, whole.data());
    for (size_t j = 0; j < n; j += 997) {
        EXPECT_NEAR(whole[j], std::sin(phase + 2 * kPi * f * j / 20000), 1e-9) << j;
    }
    tone.Reset();
    std::vector<double> pieces(n);
    for (size_t at = 0, k = 1; at < n; at += k, k = k * 3 % 4099 + 1) {
        const size_t m = std::min(k, n - at);
        tone.Modulate(ones.data() + at, static_cast<uint32_t>(m), pieces.data() + at);
    }
    EXPECT_EQ(pieces, whole);
}

// The magnitude of x's spectrum at f.
double Magnitude(const std::vector<double>& x, double f) {
    std::complex<double> sum = 0;
    for (size_t j = 0; j < x.size(); j++) {
        sum += x[j] * std::polar(1.0, -2 * kPi * f * j / 20000);
    }
    return std::abs(sum);
}

TEST(ToneCarrierTest, EachChannelSoundsAtItsTone) {
    // A steady input with a component in each of four bands: each channel's envelope settles,
    // and the output is the four tones, with nothing between them.
    const cihear::Settings s = Effective({{"carrier", "sine"},
                                          {"n_chan_ci", 4},
                                          {"n_inserted_ch", 4},
                                          {"n_on", 4},
                                          {"bands", "greenwood"},
                                          {"interact_decay", 0.0001}});
    const cihear::Design d = cihear::Describe(s);
    ASSERT_EQ(d.tones.size(), 4u);
    std::vector<double> x(16000, 0.0);
    for (size_t j = 0; j < x.size(); j++) {
        for (const cihear::Band& b : d.bands) {
            x[j] += 0.2 * std::sin(2 * kPi * b.center * j / 20000.0);
        }
    }
    const std::vector<double> y = cihear::Simulate(x.data(), x.size(), 20000, s).output;
    const std::vector<double> steady(y.begin() + 4000, y.end());
    for (size_t c = 0; c < 4; c++) {
        const double tone = d.tones[c];
        EXPECT_NEAR(tone, std::sqrt(d.synthesisBands[c].low * d.synthesisBands[c].high), 1e-9);
        const double at = Magnitude(steady, tone);
        // Between this tone and the next, and beside it.
        const double next = c + 1 < 4 ? d.tones[c + 1] : d.synthesisBands[c].high * 1.1;
        for (double other : {std::sqrt(tone * next), tone * 0.9, tone * 1.1}) {
            EXPECT_GT(at, 20 * Magnitude(steady, other)) << c << " at " << other;
        }
    }
}

// The correlation of the output's level and the envelope's, each the root of the power over
// 10 ms windows every 2.5 ms (the output lags by the synthesis FIR's 49.5 samples).
double LevelCorrelation(const std::vector<double>& output, const double* envelope, size_t n) {
    const size_t w = 200;
    std::vector<double> a;
    std::vector<double> b;
    for (size_t j = 1000; j + w + 50 < n; j += 50) {
        double pa = 0;
        double pb = 0;
        for (size_t k = 0; k < w; k++) {
            pa += output[j + k + 50] * output[j + k + 50];
            pb += envelope[j + k] * envelope[j + k];
        }
        a.push_back(std::sqrt(pa));
        b.push_back(std::sqrt(pb));
    }
    double ma = 0;
    double mb = 0;
    for (size_t i = 0; i < a.size(); i++) {
        ma += a[i] / a.size();
        mb += b[i] / b.size();
    }
    double sab = 0;
    double saa = 0;
    double sbb = 0;
    for (size_t i = 0; i < a.size(); i++) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return sab / std::sqrt(saa * sbb);
}

TEST(ToneCarrierTest, EachChannelsOutputFollowsItsEnvelopeOnSpeech) {
    const cihear::WavSamples speech = cihear::ReadWav(CIHEAR_SOURCE_DIR "/examples/speech.wav");
    ASSERT_TRUE(speech.status.ok());
    cihear::Options options;
    options.inspect = true;
    options.envelopes = true;
    // Each of four bands as a simulation of its own (its edges given), so that the output is
    // that channel's alone: about four log-spaced bands over 300-8500 Hz.
    const std::vector<double> edges = {300, 696.7, 1618.1, 3757.7, 8500};
    for (size_t c = 0; c + 1 < edges.size(); c++) {
        SCOPED_TRACE(c);
        const cihear::Settings s = Effective(
            {{"carrier", "sine"}, {"band_edges", std::vector<double>{edges[c], edges[c + 1]}}});
        const cihear::Result r = cihear::Simulate(speech.samples.data(), speech.samples.size(),
                                                  speech.sampleRate, s, options);
        ASSERT_TRUE(r.status.ok());
        ASSERT_EQ(r.inspection.channels, 1u);
        EXPECT_GT(LevelCorrelation(r.output, r.inspection.envelopes.data(), r.output.size()), 0.99);
    }
}

}  // namespace
