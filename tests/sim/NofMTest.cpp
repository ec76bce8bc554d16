#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "sim/Analyzer.h"
#include "sim/TestSupport.h"

namespace {

using Channels = std::vector<std::vector<double>>;

constexpr double kStimRate = 1800.0;

// N-of-M selection on hand-made envelopes at 20000 Hz.
Channels SelectNofM(const Channels& channels, unsigned nOn, double rate = kStimRate) {
    std::unique_ptr<Parameters> p = ChannelParams(channels.size(), nOn);
    p->rate->SetValue(rate);
    Analyzer a(p.get(), kRate);
    a.SetEnvelopes(MakeVector(channels));
    a.N_of_M();
    Channels out;
    for (size_t ch = 0; ch < channels.size(); ch++) {
        out.push_back(Samples(*a.GetEnvelopes()->GetSignal(ch)));
    }
    return out;
}

Channels Constant(const std::vector<double>& values, size_t length) {
    Channels c;
    for (double v : values) {
        c.emplace_back(length, v);
    }
    return c;
}

// The frames [start, end) of the processed cycles c >= 1 at 1800 pps and 20000 Hz.
std::vector<std::pair<size_t, size_t>> Frames(size_t length) {
    const double fs = static_cast<double>(kRate);
    const long cycles = static_cast<long>(std::floor(length * (kStimRate / fs) - 1.0));
    std::vector<std::pair<size_t, size_t>> frames;
    for (long c = 1; c < cycles; c++) {
        frames.emplace_back(static_cast<size_t>(std::floor((c - 1) * (fs / kStimRate))),
                            static_cast<size_t>(std::floor(c * (fs / kStimRate))));
    }
    return frames;
}

// Distinct, wandering envelopes: channel k is a sinusoid with its own phase.
Channels Wandering(size_t n, size_t length) {
    Channels c(n, std::vector<double>(length));
    for (size_t k = 0; k < n; k++) {
        for (size_t j = 0; j < length; j++) {
            c[k][j] = 0.5 + 0.4 * std::sin(2 * 3.141592653589793 * j / 310.0 + 1.3 * k);
        }
    }
    return c;
}

void ExpectTailUntouched(const Channels& before, const Channels& after, size_t from) {
    for (size_t ch = 0; ch < before.size(); ch++) {
        for (size_t j = from; j < before[ch].size(); j++) {
            EXPECT_EQ(after[ch][j], before[ch][j]) << "channel " << ch << " sample " << j;
        }
    }
}

TEST(NofM, WorkedExampleZeroesTheTiedHigherChannel) {
    const Channels in = Constant({0.5, 0.9, 0.5, 0.2}, 100);
    const Channels out = SelectNofM(in, 3);
    for (size_t j = 0; j < 60; j++) {  // well inside the processed frames
        EXPECT_EQ(out[0][j], 0.5) << j;
        EXPECT_EQ(out[1][j], 0.9) << j;
        EXPECT_EQ(out[2][j], 0.0) << j;
        EXPECT_EQ(out[3][j], 0.2) << j;
    }
    ExpectTailUntouched(in, out, 95);
}

TEST(NofM, TiesAndMissingCandidates) {
    {
        // Of tied channels only the lowest index is marked, even with every channel allowed on:
        // the third pass finds nothing below 0.3 and marks channel 0 again.
        const Channels out = SelectNofM(Constant({0.3, 0.7, 0.3}, 200), 3);
        EXPECT_EQ(out[0][50], 0.3);
        EXPECT_EQ(out[1][50], 0.7);
        EXPECT_EQ(out[2][50], 0.0);
    }
    {
        // Nothing above -1e30 after the first pick: the second pass marks channel 1 again,
        // channel 0 stays unmarked.
        const Channels out = SelectNofM(Constant({-2e30, 0.5, 0.5}, 200), 2);
        EXPECT_EQ(out[0][50], 0.0);
        EXPECT_EQ(out[1][50], 0.5);
        EXPECT_EQ(out[2][50], 0.0);
    }
    {
        // No candidate below 1e30 in the very first pass: channel 0. With only cycle 0
        // (23 samples) that zeroes sample 0 of channel 1 and nothing else.
        const Channels in = Constant({2e30, 2e30}, 23);
        Channels expected = in;
        expected[1][0] = 0.0;
        EXPECT_EQ(SelectNofM(in, 1), expected);
    }
    {
        // Longer: cycle 1 then sees channel 1 at 0.0 below the limit and picks it, and every
        // later cycle, finding no candidate, keeps that last pick.
        const Channels out = SelectNofM(Constant({2e30, 2e30}, 200), 1);
        EXPECT_EQ(out[0][50], 0.0);
        EXPECT_EQ(out[1][50], 2e30);
    }
    {
        // No candidate in a cycle's first pass: the last pick of the previous cycle (channel 2).
        Channels in = Constant({0.1, 0.2, 0.5}, 400);
        for (auto& ch : in) {
            std::fill(ch.begin() + 100, ch.end(), 2e30);
        }
        const Channels out = SelectNofM(in, 1);
        EXPECT_EQ(out[2][50], 0.5);
        for (size_t j = 120; j < 300; j++) {
            EXPECT_EQ(out[0][j], 0.0) << j;
            EXPECT_EQ(out[1][j], 0.0) << j;
            EXPECT_EQ(out[2][j], 2e30) << j;
        }
    }
}

TEST(NofM, NegativeValuesRankBelowZero) {
    {
        const Channels out = SelectNofM(Constant({-0.01, 0.0}, 200), 1);
        EXPECT_EQ(out[0][50], 0.0);
    }
    {
        const Channels out = SelectNofM(Constant({-0.5, -0.2, 0.0}, 200), 2);
        EXPECT_EQ(out[0][50], 0.0);
        EXPECT_EQ(out[1][50], -0.2);
        EXPECT_EQ(out[2][50], 0.0);
    }
}

TEST(NofM, OneOnKeepsTheLargestChannelOfEachFrame) {
    const size_t length = 2000;
    const Channels in = Wandering(5, length);
    const Channels out = SelectNofM(in, 1);
    const auto frames = Frames(length);
    ASSERT_GT(frames.size(), 100u);
    for (const auto& f : frames) {
        size_t best = 0;
        for (size_t ch = 1; ch < in.size(); ch++) {
            if (in[ch][f.first] > in[best][f.first]) {
                best = ch;
            }
        }
        for (size_t ch = 0; ch < in.size(); ch++) {
            const double expected = ch == best ? in[ch][f.first] : 0.0;
            for (size_t j = f.first; j < f.second; j++) {
                ASSERT_EQ(out[ch][j], expected) << "channel " << ch << " sample " << j;
            }
        }
    }
    ExpectTailUntouched(in, out, frames.back().second);
}

TEST(NofM, AllOnGivesStaircasesWithStepsAtFrameBoundaries) {
    const size_t length = 20000;  // one second
    Channels in(3, std::vector<double>(length));
    for (size_t k = 0; k < 3; k++) {
        for (size_t j = 0; j < length; j++) {
            in[k][j] = 0.3 * k + 1e-5 * (k + 1) * j;  // distinct at every sample
        }
    }
    const Channels out = SelectNofM(in, 3);
    for (size_t ch = 0; ch < 3; ch++) {
        // Frame 1 is samples 0..10, frame 2 samples 11..21.
        for (size_t j = 0; j <= 10; j++) {
            EXPECT_EQ(out[ch][j], in[ch][0]) << j;
        }
        for (size_t j = 11; j <= 21; j++) {
            EXPECT_EQ(out[ch][j], in[ch][11]) << j;
        }
        EXPECT_EQ(out[ch][22], in[ch][22]);
        for (const auto& f : Frames(length)) {
            for (size_t j = f.first; j < f.second; j++) {
                ASSERT_EQ(out[ch][j], in[ch][f.first]) << "channel " << ch << " sample " << j;
            }
        }
        // The last processed frame ends before 19977.
        EXPECT_NE(out[ch][19976], in[ch][19976]);
    }
    ExpectTailUntouched(in, out, 19977);
}

TEST(NofM, EnvelopesTooShortForACycle) {
    for (size_t length : {0u, 1u, 11u, 12u}) {
        // 11 samples make less than one period (C < 0), 12 make no full cycle (C = 0).
        const Channels in = Constant({0.2, 0.7}, length);
        EXPECT_EQ(SelectNofM(in, 1), in) << length;
    }
    {
        // 23 samples give only cycle 0: its frame is empty but it zeroes sample 0 of the
        // channel it does not select.
        const Channels in = Constant({0.2, 0.7}, 23);
        Channels expected = in;
        expected[0][0] = 0.0;
        EXPECT_EQ(SelectNofM(in, 1), expected);
    }
}

}  // namespace
