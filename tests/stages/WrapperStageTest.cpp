// The stages that the whole-signal classes run, fed in blocks that cross each other's edges:
// the rate conversion against the conversion written out step by step (hold, the plain
// difference equation, the interpolation formula), and the offline synthesis against the
// whole-signal Synthesizer, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "dsp/FilterIIR.h"
#include "dsp/Parallel.h"
#include "dsp/Resampler.h"
#include "dsp/gasdev.h"
#include "params/Parameters.h"
#include "signal/Signal.h"
#include "signal/SignalVector.h"
#include "sim/BlockStreams.h"
#include "sim/Synthesizer.h"
#include "stages/Normalization.h"
#include "stages/Plan.h"
#include "stages/RateConversion.h"
#include "stages/Synthesis.h"

namespace {

// Block sizes: single samples, sizes that cross the 251 samples the pulse streams hold back,
// one larger than the signals, and random sizes (0: drawn from a fixed seed).
const std::vector<uint32_t> kSizes = {1, 7, 128, 441, 100000, 0};

// Calls step(at, m) over [0, length) in blocks of `size` (0: random sizes from 1 to 600).
template <typename F>
void InBlocks(uint32_t length, uint32_t size, F&& step) {
    std::mt19937 random(7);
    for (uint32_t at = 0; at < length;) {
        const uint32_t want = size ? size : 1 + random() % 600;
        const uint32_t m = std::min(want, length - at);
        step(at, m);
        at += m;
    }
}

bool Same(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Loud and quiet stretches, digital silence and full-scale samples, as a file gives them.
std::vector<double> FileLike(uint32_t length) {
    std::vector<double> x(length);
    uint32_t state = 99u + length;
    for (uint32_t i = 0; i < length; i++) {
        state = state * 1664525u + 1013904223u;
        x[i] = (static_cast<int16_t>(state >> 16) >> (i / 50 % 3)) / 32768.0;
        if (i > length / 3 && i < length / 2) {
            x[i] = 0.0;
        } else if (i % 89 == 3) {
            x[i] = i % 2 ? 32767 / 32768.0 : -1.0;
        }
    }
    return x;
}

// The conversion written out: each sample held k times, the plain difference equation, the
// interpolation formula at every position, the peak normalisation.
std::vector<double> WrittenOut(const std::vector<double>& x, uint32_t source, uint32_t target) {
    const stages::RatePlan plan =
        stages::PlanConversion(static_cast<uint32_t>(x.size()), source, target);
    std::vector<double> held(plan.heldLength);
    for (uint32_t t = 0; t < plan.heldLength; t++) {
        held[t] = x[t / plan.hold];
    }
    const LP_FilterIIR lp(2, plan.heldRate, 0.45 * std::min(source, target));
    std::vector<double> f(plan.heldLength);
    FilterIIR::Apply(lp.GetA(), lp.GetB(), lp.GetNumCoeffs(), held.data(), f.data(),
                     plan.heldLength);
    std::vector<double> y(plan.length);
    const double step = static_cast<double>(f.size()) / plan.length;
    for (uint32_t i = 0; i < plan.length; i++) {
        const double p = i * step;
        const auto c = static_cast<uint32_t>(std::ceil(p));
        if (i + 1 == plan.length || (i > 0 && c >= f.size())) {
            y[i] = f.back();
        } else if (i == 0) {
            y[i] = f[0];
        } else {
            y[i] = f[c] + (c - p) * (f[c - 1] - f[c]);
        }
    }
    double peak = 0.0;
    for (double v : y) {
        peak = std::max(peak, std::fabs(v));
    }
    for (double& v : y) {
        v = peak == 0.0 ? 0.0 : v * (0.9999 * (1.0 / peak));
    }
    return y;
}

class Conversion : public ::testing::TestWithParam<uint32_t> {};

TEST_P(Conversion, StageInBlocksIsTheConversionWrittenOut) {
    // Raising by whole and fractional ratios (hold 3, 2, 2, 7), lowering by fractional ones.
    for (uint32_t source : {8000u, 11025u, 16000u, 3000u, 44100u, 48000u, 96000u}) {
        for (uint32_t length : {1u, 2u, 640u, 3001u}) {
            const std::vector<double> x = FileLike(length);
            const stages::RatePlan plan = stages::PlanConversion(length, source, 20000);
            ASSERT_TRUE(plan.possible);
            stages::RateConversion conversion(plan, 600);
            std::vector<double> y(plan.length + 1, -7.0);  // one beyond: nothing writes there
            std::vector<double> block;
            uint32_t given = 0;
            InBlocks(length, GetParam(), [&](uint32_t at, uint32_t m) {
                block.assign(x.begin() + at, x.begin() + at + m);
                given += conversion.Process(block.data(), m, y.data() + given);
            });
            given += conversion.Finish(y.data() + given);
            EXPECT_EQ(given, plan.length);
            EXPECT_EQ(y.back(), -7.0);
            y.pop_back();
            stages::Normalize(y.data(), y.data(), y.size());
            EXPECT_TRUE(Same(y, WrittenOut(x, source, 20000)))
                << source << " Hz, " << length << " samples";
            // The whole-signal class gives the same.
            std::unique_ptr<Signal> in(new Signal(length, source));
            std::copy(x.begin(), x.end(), in->GetSamples());
            std::unique_ptr<Signal> whole(Resampler().Run(in.get(), 20000));
            EXPECT_TRUE(Same(y, std::vector<double>(whole->GetSamples(),
                                                    whole->GetSamples() + whole->GetLength())));
        }
    }
}

TEST_P(Conversion, InterpolationInBlocksKeepsTheEndsAndFollowsTheLines) {
    // Shrinking, stretching (beyond twice, where positions pass the last sample), equal
    // lengths, a single output sample and an empty input.
    const std::vector<double> x = FileLike(500);
    for (uint32_t length : {1u, 2u, 333u, 499u, 500u, 501u, 1250u}) {
        for (uint32_t inLength : {0u, 1u, 500u}) {
            stages::Interpolation interpolation(inLength, length);
            std::vector<double> y(length, -7.0);
            uint32_t given = 0;
            InBlocks(inLength, GetParam(), [&](uint32_t at, uint32_t m) {
                given += interpolation.Process(x.data() + at, m, y.data() + given);
            });
            given += interpolation.Finish(y.data() + given);
            ASSERT_EQ(given, length);
            for (uint32_t i = 0; i < length; i++) {
                double expected = 0.0;
                const double p = i * (static_cast<double>(inLength) / length);
                const auto c = static_cast<uint32_t>(std::ceil(p));
                if (inLength == 0) {
                    expected = 0.0;
                } else if (inLength == length) {
                    expected = x[i];
                } else if (i + 1 == length || (i > 0 && c >= inLength)) {
                    expected = x[inLength - 1];
                } else if (i == 0) {
                    expected = x[0];
                } else {
                    expected = x[c] + (c - p) * (x[c - 1] - x[c]);
                }
                ASSERT_EQ(std::memcmp(&y[i], &expected, sizeof(double)), 0)
                    << inLength << " to " << length << ", sample " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, Conversion, ::testing::ValuesIn(kSizes));

// An envelope with peaks every `period` samples and a silent stretch.
std::vector<double> Envelope(uint32_t length, double period, double phase) {
    std::vector<double> e(length);
    for (uint32_t j = 0; j < length; j++) {
        e[j] = j > length / 2 && j < length / 2 + 400
                   ? 0.0
                   : 0.5 + 0.4 * std::sin(2 * 3.141592653589793 * j / period + phase);
    }
    return e;
}

class Synthesis : public ::testing::TestWithParam<uint32_t> {};

TEST_P(Synthesis, StagesInBlocksAreTheSynthesizer) {
    const uint32_t length = 3000;
    for (double sync : {0.0, 0.4, 1.0}) {
        Parameters p;
        p.n_inserted_ch->SetValue(4);
        p.n_on->SetValue(4);
        p.synchronization->SetValue(sync);
        const stages::Plan plan = stages::MakePlan(p, 20000);
        std::vector<std::vector<double>> env;
        std::unique_ptr<SignalVector> v(new SignalVector(plan.channels));
        for (uint32_t i = 0; i < plan.channels; i++) {
            env.push_back(Envelope(length, 37.0 + 23.0 * i, i));
            auto* s = new Signal(length, 20000);
            std::copy(env[i].begin(), env[i].end(), s->GetSamples());
            v->SetSignal(i, s);
        }
        RandomState wrapperState = SeededRandomState(3);
        Synthesizer synthesizer(&p, 20000, &wrapperState);
        synthesizer.SetThreads(1);
        std::unique_ptr<Signal> whole(synthesizer.Run(v.get(), nullptr));

        // The stages, fed in blocks on two threads.
        parallel::Team team(2);
        block::NoiseChain noise(SeededRandomState(3), plan.channels, length);
        noise.Draw(UINT64_MAX);
        const uint32_t maxBlock = GetParam() ? std::min(GetParam(), length) : 600;
        std::vector<const double*> rows(plan.channels);
        const auto at = [&](uint32_t a) {
            for (uint32_t i = 0; i < plan.channels; i++) {
                rows[i] = env[i].data() + a;
            }
            return rows.data();
        };
        stages::PulseEnergies energies(plan, length, maxBlock);
        InBlocks(length, GetParam(),
                 [&](uint32_t a, uint32_t m) { energies.Process(at(a), m, team); });
        stages::Synthesis synthesis(plan, stages::NoiseStarts(noise, plan.channels),
                                    stages::PulseGains(noise, energies, plan.channels), length,
                                    maxBlock);
        std::vector<double> y(length, 0.0);
        InBlocks(length, GetParam(),
                 [&](uint32_t a, uint32_t m) { synthesis.Process(at(a), m, y.data(), team); });
        stages::Normalize(y.data(), y.data(), length);
        EXPECT_TRUE(Same(y, std::vector<double>(whole->GetSamples(), whole->GetSamples() + length)))
            << "synchronization " << sync;
        // The synthesizer leaves its random state after every channel's draws.
        EXPECT_EQ(randn(wrapperState), [&] {
            RandomState after = noise.Start(plan.channels);
            return randn(after);
        }());
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, Synthesis, ::testing::ValuesIn(kSizes));

}  // namespace
