// The simulation in blocks gives Simulator::Run's bits for every block size and thread count,
// and the inspection the analyzer records.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "TestSupport.h"
#include "dsp/gasdev.h"
#include "sim/BlockSimulation.h"
#include "sim/Simulator.h"

namespace {

std::vector<double> WithGaps(size_t length) {
    std::vector<double> v = SpeechLike(length);
    for (size_t i = 0; i < length; i++) {
        if ((i / 2500) % 3 == 1) {
            v[i] = (i / 100) % 2 ? 0.0 : -0.0;
        }
    }
    return v;
}

struct Whole {
    std::vector<double> output;
    SelectionRecord record;
    std::vector<double> envelopes;
};

void Keep(const SignalVector& e, void* context) {
    auto* v = static_cast<std::vector<double>*>(context);
    for (uint32_t ch = 0; ch < e.GetLength(); ch++) {
        const Signal* s = e.GetSignal(ch);
        v->insert(v->end(), s->GetSamples(), s->GetSamples() + s->GetLength());
    }
}

Whole RunWhole(Parameters* p, const std::vector<double>& x) {
    Whole w;
    RandomState random = SeededRandomState(3);
    Simulator sim(p, kRate, &random);
    sim.SetThreads(1);
    sim.GetAnalyzer()->SetSelectionRecord(&w.record);
    sim.SetEnvelopeObserver(Keep, &w.envelopes);
    std::unique_ptr<Signal> in(MakeSignal(x));
    std::unique_ptr<Signal> out(sim.Run(in.get()));
    w.output = Samples(*out);
    return w;
}

Whole RunBlocks(Parameters* p, const std::vector<double>& x, uint32_t block, unsigned threads) {
    Whole w;
    RandomState random = SeededRandomState(3);
    BlockSimulation b;
    b.parameters = p;
    b.sampleRate = kRate;
    b.random = &random;
    b.threads = threads;
    b.blockSize = block;
    b.selection = &w.record;
    b.envelopes = &w.envelopes;
    std::unique_ptr<Signal> in(MakeSignal(x));
    w.output = b.Run(in);
    return w;
}

template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

}  // namespace

TEST(BlockSimulation, EveryBlockSizeAndThreadCountGivesTheWholeRunsBits) {
    // Lengths: empty, shorter than a pulse window, shorter than a stimulation period, and longer.
    for (size_t length : {size_t(0), size_t(37), size_t(480), size_t(9001)}) {
        const std::vector<double> x = WithGaps(length);
        for (int setting = 0; setting < 4; setting++) {
            std::unique_ptr<Parameters> p(ChannelParams(12, setting == 1 ? 4 : 12));
            if (setting == 2) {
                p->envelope_detection->SetValue(1);
                p->eas->SetValue(1);
                p->synchronization->SetValue(0.3);
            }
            if (setting == 3) {
                p->rate->SetValue(10.0);  // frames of 2000 samples
                p->n_on->SetValue(3);
            }
            const Whole whole = RunWhole(p.get(), x);
            // 1 sample, a block inside a frame, one that splits a pulse window, a frame-sized
            // one, and one block for all.
            for (uint32_t block : {1u, 7u, 300u, 2000u, 1u << 20}) {
                if (block < 300 && length > 500) {
                    continue;  // tiny blocks are slow; the short inputs cover them
                }
                for (unsigned threads : {1u, 2u, 3u}) {
                    const Whole blocks = RunBlocks(p.get(), x, block, threads);
                    EXPECT_TRUE(SameBits(whole.output, blocks.output))
                        << "length " << length << " setting " << setting << " block " << block
                        << " threads " << threads;
                    EXPECT_TRUE(SameBits(whole.envelopes, blocks.envelopes));
                    EXPECT_EQ(whole.record.starts, blocks.record.starts);
                    EXPECT_EQ(whole.record.lengths, blocks.record.lengths);
                    EXPECT_TRUE(SameBits(whole.record.levels, blocks.record.levels));
                    EXPECT_EQ(whole.record.selected, blocks.record.selected);
                }
            }
        }
    }
}

TEST(BlockSimulation, LoadingBesideTheNoiseGivesTheSameBits) {
    const std::vector<double> x = WithGaps(9001);
    std::unique_ptr<Parameters> p(ChannelParams(12, 12));
    const Whole whole = RunWhole(p.get(), x);
    for (unsigned threads : {1u, 2u, 3u}) {
        // The length the header promised, and wrong ones: the noise is then drawn again.
        for (uint64_t expected : {uint64_t{9001}, uint64_t{9006}, uint64_t{8000}, uint64_t{0}}) {
            RandomState random = SeededRandomState(3);
            BlockSimulation b;
            b.parameters = p.get();
            b.sampleRate = kRate;
            b.random = &random;
            b.threads = threads;
            b.blockSize = 2000;
            const std::vector<double> out =
                b.Run(expected, [&] { return std::unique_ptr<Signal>(MakeSignal(x)); });
            EXPECT_TRUE(SameBits(whole.output, out))
                << "threads " << threads << " expected " << expected;
        }
        // A load that fails: nothing simulated, the sequence left where it was.
        RandomState random = SeededRandomState(3);
        const RandomState before = random;
        BlockSimulation b;
        b.parameters = p.get();
        b.random = &random;
        b.threads = threads;
        EXPECT_THROW(b.Run(9001, [] { return std::unique_ptr<Signal>(); }),
                     BlockSimulation::LoadFailed);
        EXPECT_EQ(std::memcmp(&before, &random, sizeof random), 0);
    }
}
