#include <gtest/gtest.h>

#include <cmath>

#include "sim/Analyzer.h"
#include "sim/TestSupport.h"

namespace {

using Channels = std::vector<std::vector<double>>;

Channels Interact(Analyzer& a, const Channels& in, unsigned long rate = kRate) {
    a.SetEnvelopes(MakeVector(in, rate));
    a.InteractionChannels();
    Channels out;
    for (size_t ch = 0; ch < in.size(); ch++) {
        out.push_back(Samples(*a.GetEnvelopes()->GetSignal(ch)));
    }
    return out;
}

// Irregular data, so that a different order of summation shows in the last bits.
Channels Irregular(size_t n, size_t length) {
    Channels c(n, std::vector<double>(length));
    uint32_t x = 12345;
    for (auto& ch : c) {
        for (double& v : ch) {
            x = x * 1103515245u + 12345u;
            v = static_cast<double>(x >> 8) / 16777216.0 * 1.7 - 0.3;
        }
    }
    return c;
}

TEST(Interaction, FactorFollowsTheElectrodeSpacing) {
    Parameters p;  // 30 mm, 12 channels, decay 2 mm
    Analyzer a(&p, kRate);
    EXPECT_NEAR(a.InteractionCoeff(), 0.25573, 0.25573 * 2e-5);

    // The spacing divides by the gaps between inserted channels, not by n_chan_ci.
    p.n_inserted_ch->SetValue(7);
    Analyzer seven(&p, kRate);
    EXPECT_NEAR(seven.InteractionCoeff(), std::exp(-(30.0 / 6.0) / 2.0), 1e-15);

    p.n_inserted_ch->SetValue(1);
    Analyzer one(&p, kRate);
    EXPECT_EQ(one.InteractionCoeff(), 0.001);
}

TEST(Interaction, ThreeChannelsWithHalfFactor) {
    std::unique_ptr<Parameters> p = ChannelParams(3, 3);
    p->length_ci->SetValue(2.0);                       // 1 mm between electrodes
    p->interact_decay->SetValue(1.0 / std::log(2.0));  // factor 0.5
    Analyzer a(p.get(), kRate);
    ASSERT_NEAR(a.InteractionCoeff(), 0.5, 1e-15);

    const Channels in = {{1.0, 0.0, 0.0, 2.0}, {0.0, 1.0, 0.0, 4.0}, {0.0, 0.0, 1.0, 8.0}};
    const Channels out = Interact(a, in);
    const double weights[3][3] = {{1.0, 0.5, 0.25}, {0.5, 1.0, 0.5}, {0.25, 0.5, 1.0}};
    for (size_t i = 0; i < 3; i++) {
        for (size_t s = 0; s < 3; s++) {
            EXPECT_NEAR(out[i][s], weights[i][s], 1e-14) << "out " << i << " from " << s;
        }
        const double mixed = 2.0 * weights[i][0] + 4.0 * weights[i][1] + 8.0 * weights[i][2];
        EXPECT_NEAR(out[i][3], mixed, 1e-13) << "out " << i;
    }
}

TEST(Interaction, SumsRunInAscendingSourceOrder) {
    std::unique_ptr<Parameters> p = ChannelParams(6, 6);
    Analyzer a(p.get(), kRate);
    const double k = a.InteractionCoeff();
    double w[6] = {1.0};
    for (int d = 1; d < 6; d++) {
        w[d] = w[d - 1] * k;
    }
    const Channels in = Irregular(6, 1003);  // not a multiple of any unrolling width
    const Channels out = Interact(a, in, 19998);
    for (int i = 0; i < 6; i++) {
        for (size_t j = 0; j < in[0].size(); j++) {
            double expected = 0.0;
            for (int s = 0; s < 6; s++) {
                expected = expected + in[s][j] * w[std::abs(s - i)];
            }
            ASSERT_EQ(out[i][j], expected) << "channel " << i << " sample " << j;
        }
    }
    // The mixed envelopes carry the analyzer's rate.
    EXPECT_EQ(a.GetEnvelopes()->GetSignal(5)->GetSampleRate(), kRate);
}

TEST(Interaction, DecayBoundsAndSingleChannel) {
    {
        std::unique_ptr<Parameters> p = ChannelParams(1, 1);
        Analyzer a(p.get(), kRate);
        const Channels in = Irregular(1, 50);
        EXPECT_EQ(Interact(a, in), in);
    }
    {
        // A tiny decay leaves the channels independent.
        std::unique_ptr<Parameters> p = ChannelParams(3, 3);
        p->interact_decay->SetValue(0.0001);
        Analyzer a(p.get(), kRate);
        const Channels in = Irregular(3, 50);
        EXPECT_EQ(Interact(a, in), in);
    }
    {
        // A huge decay makes every channel nearly the sum of all.
        std::unique_ptr<Parameters> p = ChannelParams(3, 3);
        p->length_ci->SetValue(1.0);
        p->interact_decay->SetValue(100.0);
        Analyzer a(p.get(), kRate);
        const Channels out = Interact(a, {{1.0}, {2.0}, {4.0}});
        for (const auto& ch : out) {
            EXPECT_NEAR(ch[0], 7.0, 0.1);
        }
    }
}

}  // namespace
