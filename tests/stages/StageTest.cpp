// Each stage fed in blocks that cross each other's edges against the whole-signal class it
// replaces, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "dsp/FilterFIR.h"
#include "dsp/FilterIIR.h"
#include "dsp/HilbertFIR_Detector.h"
#include "dsp/Kernels.h"
#include "dsp/RectLP_IIR_Detector.h"
#include "params/Parameters.h"
#include "signal/Signal.h"
#include "signal/SignalVector.h"
#include "sim/Analyzer.h"
#include "stages/Acoustic.h"
#include "stages/BandFilter.h"
#include "stages/Detection.h"
#include "stages/Plan.h"
#include "stages/Selection.h"
#include "stages/Smoothing.h"
#include "stages/Spread.h"

namespace {

const uint32_t kLength = 5000;
const uint32_t kMax = 700;  // the largest block below

// Block sizes that cross the FIRs' 100 taps, the frames and each other's edges.
const std::vector<uint32_t> kSizes = {1, 7, 99, 100, 101, 333, 700};

std::vector<double> Tones(uint32_t length) {
    std::vector<double> v(length);
    for (uint32_t i = 0; i < length; i++) {
        const double t = i / 20000.0;
        v[i] = (0.5 + 0.4 * std::sin(2 * M_PI * 6 * t)) *
               (0.4 * std::sin(2 * M_PI * 500 * t) + 0.3 * std::sin(2 * M_PI * 2300 * t));
    }
    return v;
}

stages::Plan PlanFor(unsigned detection, bool eas = false) {
    Parameters p;
    p.envelope_detection->SetValue(detection);
    p.eas->SetValue(eas);
    p.n_on->SetValue(5);
    return stages::MakePlan(p, 20000);
}

// Channels x kLength rows with kTaps of room before each, as the stages want them.
struct Rows {
    explicit Rows(uint32_t n) : memory(n * (stages::kTaps + kLength)) {
        for (uint32_t i = 0; i < n; i++) {
            rows.push_back(memory.data() + i * (stages::kTaps + kLength) + stages::kTaps);
        }
    }
    // The rows moved on to sample `at`.
    std::vector<double*> At(uint32_t at) const {
        std::vector<double*> r = rows;
        for (double*& p : r) {
            p += at;
        }
        return r;
    }
    std::vector<double> memory;
    std::vector<double*> rows;
};

// Runs step(at, m) over [0, kLength) in blocks of `size` (the last one shorter).
template <typename F>
void InBlocks(uint32_t size, F&& step) {
    for (uint32_t at = 0; at < kLength; at += size) {
        step(at, std::min(size, kLength - at));
    }
}

bool Same(const double* a, const double* b, uint32_t n) {
    return std::memcmp(a, b, n * sizeof(double)) == 0;
}

class Stage : public ::testing::TestWithParam<uint32_t> {};

TEST_P(Stage, DetectionIsTheDetectorsRun) {
    const std::vector<double> x = Tones(kLength);
    std::unique_ptr<Signal> in(new Signal(kLength, 20000));
    std::copy(x.begin(), x.end(), in->GetSamples());
    for (unsigned method : {0u, 1u}) {
        const stages::Plan plan = PlanFor(method);
        stages::Detection detection(plan, kMax);
        Rows out(plan.channels);
        std::vector<double> room((stages::kTaps + kMax) * plan.channels);
        InBlocks(GetParam(), [&](uint32_t at, uint32_t m) {
            // The stage writes below each row: into scratch rows, copied out after.
            std::vector<double*> scratch;
            for (uint32_t i = 0; i < plan.channels; i++) {
                scratch.push_back(room.data() + i * (stages::kTaps + kMax) + stages::kTaps);
            }
            detection.Begin(x.data() + at, m);
            detection.Process(scratch.data(), 0, plan.channels);
            detection.End();
            for (uint32_t i = 0; i < plan.channels; i++) {
                std::copy(scratch[i], scratch[i] + m, out.rows[i] + at);
            }
        });
        for (uint32_t i = 0; i < plan.channels; i++) {
            std::unique_ptr<Signal> whole;
            if (method == 0) {
                whole.reset(
                    HilbertFIR_Detector(plan.analysis.width[i], plan.analysis.center[i], 20000)
                        .Run(in.get()));
            } else {
                whole.reset(RectLP_IIR_Detector(plan.analysis.low[i], plan.analysis.high[i], 20000)
                                .Run(in.get()));
            }
            EXPECT_TRUE(Same(out.rows[i], whole->GetSamples(), kLength))
                << "method " << method << " channel " << i;
        }
    }
}

TEST_P(Stage, SmoothingSelectionAndSpreadAreTheAnalyzers) {
    // The analyzer's own steps on whole envelopes against the stages on blocks.
    const stages::Plan plan = PlanFor(0);
    Parameters p;
    p.n_on->SetValue(5);
    Analyzer analyzer(&p, 20000);
    const std::vector<double> x = Tones(kLength);
    Rows blocks(plan.channels);
    auto* whole = new SignalVector(plan.channels);
    for (uint32_t i = 0; i < plan.channels; i++) {
        for (uint32_t j = 0; j < kLength; j++) {
            blocks.rows[i][j] = std::fabs(x[(j * (i + 3)) % kLength]) * (1.0 + 0.1 * i);
        }
        auto* s = new Signal(kLength, 20000);
        std::copy(blocks.rows[i], blocks.rows[i] + kLength, s->GetSamples());
        whole->SetSignal(i, s);
    }
    analyzer.SetEnvelopes(whole);
    std::vector<double*> w(plan.channels);
    for (uint32_t i = 0; i < plan.channels; i++) {
        w[i] = whole->GetSignal(i)->GetSamples();
    }
    const LP_FilterIIR& lp = analyzer.GetSmoothingFilter();
    kernels::FilterChannels(lp.GetA(), lp.GetB(), lp.GetNumCoeffs(), w.data(), plan.channels,
                            kLength);
    analyzer.N_of_M();
    analyzer.InteractionChannels();

    stages::Smoothing smoothing(plan);
    stages::Selection selection(plan, kMax, stages::FrameCount(kLength, plan.rate, 20000));
    InBlocks(GetParam(), [&](uint32_t at, uint32_t m) {
        std::vector<double*> r = blocks.At(at);
        smoothing.Process(r.data(), 0, plan.channels, m, at);
        selection.Choose(r.data(), m);
        selection.Hold(r.data(), 0, plan.channels);
        stages::Spread(plan, r.data(), 0, m);
    });
    for (uint32_t i = 0; i < plan.channels; i++) {
        EXPECT_TRUE(
            Same(blocks.rows[i], analyzer.GetEnvelopes()->GetSignal(i)->GetSamples(), kLength))
            << "channel " << i;
    }
}

TEST_P(Stage, BandFilterIsTheSynthesisFir) {
    const stages::Plan plan = PlanFor(0);
    const std::vector<double> x = Tones(kLength);
    stages::BandFilter bands(plan, kMax);
    std::vector<double> sum(kLength, 0.0);
    InBlocks(GetParam(), [&](uint32_t at, uint32_t m) {
        for (uint32_t i = 0; i < plan.channels; i++) {
            for (uint32_t j = 0; j < m; j++) {
                bands.Carrier(i)[j] = x[at + j] * (i + 1);
            }
            bands.Filter(i, m);
        }
        bands.Sum(sum.data() + at, 0, m);
        bands.Advance(m);
    });
    std::vector<double> expected(kLength, 0.0);
    std::vector<double> carrier(kLength);
    for (uint32_t i = 0; i < plan.channels; i++) {
        for (uint32_t j = 0; j < kLength; j++) {
            carrier[j] = x[j] * (i + 1);
        }
        FilterHilbertSin fir(plan.synthesis.width[i], plan.synthesis.center[i], 20000);
        kernels::ConvolveAdd(fir.GetCoeffs(), carrier.data(), expected.data(), kLength);
    }
    EXPECT_TRUE(Same(sum.data(), expected.data(), kLength));
}

TEST_P(Stage, AcousticIsTheLowPassDelayed) {
    const stages::Plan plan = PlanFor(0, true);
    const std::vector<double> x = Tones(kLength);
    std::unique_ptr<Signal> in(new Signal(kLength, 20000));
    std::copy(x.begin(), x.end(), in->GetSamples());
    std::unique_ptr<Signal> whole(stages::AcousticLowPass(20000, 2000)->Run(in.get()));
    for (uint32_t delay : {0u, 251u}) {
        stages::Acoustic acoustic(plan, delay, kMax);
        std::vector<double> out(kLength);
        InBlocks(GetParam(), [&](uint32_t at, uint32_t m) {
            acoustic.Process(x.data() + at, m, out.data() + at);
        });
        for (uint32_t j = 0; j < delay; j++) {
            EXPECT_EQ(out[j], 0.0);
        }
        EXPECT_TRUE(Same(out.data() + delay, whole->GetSamples(), kLength - delay))
            << "delay " << delay;
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, Stage, ::testing::ValuesIn(kSizes));

}  // namespace
