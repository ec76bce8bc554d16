// The output does not depend on the number of threads.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "TestSupport.h"
#include "dsp/gasdev.h"
#include "sim/Simulator.h"

namespace {

// Speech-like sound cut by stretches of digital silence.
std::vector<double> WithGaps(size_t length) {
    std::vector<double> v = SpeechLike(length);
    for (size_t i = 0; i < length; i++) {
        if ((i / 3000) % 3 == 1) {
            v[i] = 0.0;
        }
    }
    return v;
}

std::vector<double> Simulate(Parameters* p, const std::vector<double>& x, unsigned threads) {
    RandomState random = SeededRandomState(7);
    Simulator sim(p, kRate, &random);
    sim.SetThreads(threads);
    std::unique_ptr<Signal> in(MakeSignal(x));
    std::unique_ptr<Signal> out(sim.Run(in.get()));
    std::vector<double> y = Samples(*out);
    // The state moves on as far as with one thread.
    y.push_back(randn(random));
    return y;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

}  // namespace

TEST(Threads, EveryThreadCountGivesTheSameBits) {
    const std::vector<double> x = WithGaps(23457);
    for (int setting = 0; setting < 4; setting++) {
        std::unique_ptr<Parameters> p(ChannelParams(setting == 1 ? 22 : 12, setting == 2 ? 4 : 12));
        if (setting == 1) {
            p->n_chan_ci->SetValue(22);
            p->n_inserted_ch->SetValue(22);
            p->n_on->SetValue(22);
        }
        if (setting == 3) {
            p->envelope_detection->SetValue(1);
            p->eas->SetValue(1);
            p->synchronization->SetValue(0.3);
        }
        const std::vector<double> one = Simulate(p.get(), x, 1);
        for (unsigned threads : {2u, 3u, 5u}) {
            EXPECT_TRUE(SameBits(one, Simulate(p.get(), x, threads)))
                << "setting " << setting << ", " << threads << " threads";
        }
    }
}
