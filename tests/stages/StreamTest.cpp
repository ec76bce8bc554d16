// The stream against the offline simulation and against itself.
#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CountingAllocator.h"
#include "engine/Engine.h"
#include "params/Parameters.h"
#include "stages/Carriers.h"
#include "stages/StreamCore.h"

namespace {

const double kPi = 3.141592653589793;

// Tones under a slow tremolo, with a pause, so that every band has peaks and silence.
std::vector<double> Input(size_t length, double level = 1.0) {
    std::vector<double> v(length);
    for (size_t i = 0; i < length; i++) {
        const double t = static_cast<double>(i) / cihear::kOutputRate;
        const double am = (i / 3000) % 4 == 3 ? 0.0 : 0.6 + 0.4 * std::sin(2 * kPi * 5.0 * t);
        v[i] = level * am *
               (0.3 * std::sin(2 * kPi * 440.0 * t) + 0.2 * std::sin(2 * kPi * 1250.0 * t) +
                0.15 * std::sin(2 * kPi * 3100.0 * t) + 0.1 * std::sin(2 * kPi * 6300.0 * t));
    }
    return v;
}

cihear::Settings Effective(const std::vector<std::pair<std::string, cihear::Value>>& values) {
    const cihear::Applied a = cihear::ApplyStrict(values);
    EXPECT_TRUE(a.ok());
    return a.settings;
}

stages::Plan PlanOf(const cihear::Settings& settings) {
    return stages::MakePlan(engine::Effective(settings), cihear::kOutputRate);
}

// The stream's output for x fed in blocks of the sizes `sizes` gives in turn, then the tail.
std::vector<double> Fed(cihear::Stream& stream, const std::vector<double>& x,
                        const std::function<size_t()>& sizes) {
    std::vector<double> out(x.size() + stream.Latency());
    for (size_t at = 0; at < x.size();) {
        const size_t m = std::min(sizes(), x.size() - at);
        stream.Process(x.data() + at, m, out.data() + at);
        at += m;
    }
    stream.Flush(out.data() + x.size());
    return out;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

const std::vector<std::vector<std::pair<std::string, cihear::Value>>> kSettings = {
    {},
    {{"envelope_detection", 1}, {"n_on", 5}},
    {{"eas", 1}, {"freq_shift", 1}, {"synchronization", 0.5}, {"n_inserted_ch", 7}},
    {{"n_chan_ci", 22}, {"n_inserted_ch", 22}, {"n_on", 8}, {"rate", 900}, {"synchronization", 0}},
    {{"eas", 1}, {"envelope_detection", 1}, {"synchronization", 0}},
    // The implant models: a map with electrodes off under freq_shift, a tone carrier.
    {{"map", "ab16"}, {"off", std::vector<double>{2, 9}}, {"freq_shift", 1}, {"n_on", 6}},
    {{"carrier", "sine"}, {"bands", "greenwood"}, {"envelope_detection", 1}},
};

class StreamSettings : public ::testing::TestWithParam<size_t> {
protected:
    cihear::Settings settings = Effective(kSettings[GetParam()]);
};

TEST_P(StreamSettings, OutputDoesNotDependOnTheBlockSizes) {
    const std::vector<double> x = Input(12000);
    cihear::StreamOptions options;
    options.seed = 5;
    cihear::Stream whole(settings, options);
    const std::vector<double> reference = Fed(whole, x, [] { return SIZE_MAX; });
    size_t nonzero = 0;
    for (double v : reference) {
        nonzero += v != 0.0;
    }
    ASSERT_GT(nonzero, x.size() / 2);
    // In place: the input array is the output array.
    {
        cihear::Stream stream(settings, options);
        std::vector<double> y = x;
        y.resize(x.size() + stream.Latency());
        for (size_t at = 0; at < x.size(); at += 500) {
            stream.Process(y.data() + at, std::min<size_t>(500, x.size() - at), y.data() + at);
        }
        stream.Flush(y.data() + x.size());
        EXPECT_TRUE(SameBits(y, reference)) << "in place";
    }
    std::mt19937 random(7);
    for (size_t size : {size_t{1}, size_t{7}, size_t{128}, size_t{441}, size_t{4096}, size_t{0}}) {
        cihear::Stream stream(settings, options);
        const std::vector<double> out = Fed(stream, x, [&] {
            return size ? size : std::uniform_int_distribution<size_t>(1, 700)(random);
        });
        EXPECT_TRUE(SameBits(out, reference)) << "blocks of " << size << " (0: random)";
    }
}

// The envelopes before the carriers, position by position, as the stream hands them out.
struct Tap {
    std::vector<std::vector<double>> rows;
    static void Keep(void* context, uint32_t channel, uint64_t position, const double* e,
                     uint32_t count) {
        auto& row = static_cast<Tap*>(context)->rows[channel];
        EXPECT_EQ(row.size(), position);
        row.insert(row.end(), e, e + count);
    }
};

TEST_P(StreamSettings, EnvelopesAreTheOfflineOnesTimesTheInputGain) {
    const std::vector<double> x = Input(9000);
    cihear::Options inspect;
    inspect.inspect = inspect.envelopes = true;
    const cihear::Result offline = cihear::Simulate(x.data(), x.size(), 20000, settings, inspect);
    ASSERT_TRUE(offline.status.ok());
    const size_t n = offline.inspection.channels;
    // The offline frames stop one before the end; the samples after the last keep their
    // envelopes unselected, where the stream goes on selecting.
    const size_t frames = offline.inspection.frames;
    const size_t compared = static_cast<size_t>(offline.inspection.frameStarts[frames - 1] +
                                                offline.inspection.frameLengths[frames - 1]);
    ASSERT_GT(compared, x.size() - 100);
    const stages::Plan plan = PlanOf(settings);
    for (double gain : {1.0, 0.37, 3.5}) {
        stages::StreamCore core(plan, std::nullopt, gain, 1.0);
        Tap tap;
        tap.rows.resize(n);
        core.SetEnvelopeTap(&Tap::Keep, &tap);
        std::vector<double> out(x.size());
        core.Process(x.data(), x.size(), out.data());
        double worst = 0.0;
        double worstNorm = 0.0;
        for (size_t ch = 0; ch < n; ch++) {
            ASSERT_EQ(tap.rows[ch].size(), x.size());
            const double* e = offline.inspection.envelopes.data() + ch * x.size();
            if (gain == 1.0) {
                EXPECT_EQ(std::memcmp(tap.rows[ch].data(), e, compared * sizeof(double)), 0)
                    << "channel " << ch;
                continue;
            }
            double peak = 0.0, err = 0.0;
            for (size_t j = 0; j < compared; j++) {
                peak = std::max(peak, std::fabs(e[j] * gain));
                err = std::max(err, std::fabs(tap.rows[ch][j] - e[j] * gain));
            }
            worstNorm = std::max(worstNorm, err / peak);
            for (size_t j = 0; j < compared; j++) {
                const double expected = e[j] * gain;
                if (expected != 0.0) {
                    worst = std::max(worst,
                                     std::fabs(tap.rows[ch][j] - expected) / std::fabs(expected));
                } else {
                    EXPECT_EQ(tap.rows[ch][j], 0.0);
                }
            }
        }
        // The quadrature detector's envelope is within 1e-12 of the scaled one at every sample.
        // The band-pass of detection 1 is a 6-pole recursion with poles close to the unit
        // circle, which amplifies the rounding of a scaled input some 1e7 times: there the bound
        // holds relative to each channel's peak, at 1e-8.
        if (plan.detection == 0) {
            EXPECT_LT(worst, 1e-12) << "input gain " << gain;
        } else {
            EXPECT_LT(worstNorm, 1e-8) << "input gain " << gain;
        }
    }
}

TEST_P(StreamSettings, LiveSimulationIsTheStreamAndItsTail) {
    const std::vector<double> x = Input(5000);
    cihear::Options options;
    options.live = true;
    options.seed = 11;
    options.inputGain = 0.8;
    options.outputGain = 2.5;
    const cihear::Result live = cihear::Simulate(x.data(), x.size(), 20000, settings, options);
    ASSERT_TRUE(live.status.ok());
    cihear::StreamOptions so;
    so.seed = 11;
    so.inputGain = 0.8;
    so.outputGain = 2.5;
    cihear::Stream stream(settings, so);
    EXPECT_TRUE(SameBits(live.output, Fed(stream, x, [] { return 333; })));
}

TEST_P(StreamSettings, ProcessFlushAndResetAllocateNothing) {
    const std::vector<double> x = Input(6000);
    cihear::Stream stream(settings);
    std::vector<double> out(x.size() + stream.Latency());
    const uint64_t before = AllocationCount();
    stream.Process(x.data(), 1, out.data());
    stream.Process(x.data() + 1, 4999, out.data() + 1);
    stream.Process(x.data() + 5000, 1000, out.data() + 5000);
    stream.Flush(out.data() + 6000);
    stream.Reset();
    stream.Process(x.data(), x.size(), out.data());
    EXPECT_EQ(AllocationCount(), before);
}

TEST_P(StreamSettings, ResetGivesWhatAFreshStreamGives) {
    const std::vector<double> x = Input(4000);
    cihear::Stream used(settings);
    std::vector<double> scratch(3000);
    used.Process(x.data(), scratch.size(), scratch.data());
    used.Reset();
    EXPECT_EQ(used.Clipped(), 0u);
    cihear::Stream fresh(settings);
    EXPECT_TRUE(SameBits(Fed(used, x, [] { return 500; }), Fed(fresh, x, [] { return 500; })));
}

INSTANTIATE_TEST_SUITE_P(Settings, StreamSettings, ::testing::Range<size_t>(0, kSettings.size()));

class StreamLatency : public ::testing::TestWithParam<double> {};

TEST_P(StreamLatency, IsWhereAnImpulseFirstComesOutLaterThanOffline) {
    // At synchronization 1 the carrier is the pulse train alone: both simulations sound first
    // at the first pulse, on the same envelopes; with noise in the carrier, at the envelope's
    // onset.
    std::vector<double> x(6000, 0.0);
    x[2000] = 0.9;
    const double s = GetParam();
    const cihear::Settings settings = Effective({{"synchronization", s}});
    const cihear::Result offline = cihear::Simulate(x.data(), x.size(), 20000, settings);
    cihear::Stream stream(settings);
    const std::vector<double> out = Fed(stream, x, [] { return 64; });
    auto First = [](const std::vector<double>& v) {
        return std::find_if(v.begin(), v.end(), [](double v) { return v != 0.0; }) - v.begin();
    };
    ASSERT_LT(First(offline.output), 6000);
    EXPECT_GT(First(offline.output), 2000);
    EXPECT_EQ(First(out) - First(offline.output), static_cast<ptrdiff_t>(stream.Latency()));
    // A noise carrier waits for no pulse: at most 1 ms.
    if (s == 0.0) {
        EXPECT_LE(stream.Latency(), 20u);
    }
}

INSTANTIATE_TEST_SUITE_P(Synchronization, StreamLatency, ::testing::Values(1.0, 0.5, 0.0));

// At synchronization 0 the stream hands the carriers +0 pulses instead of the train: what the
// train holds cannot change a bit of the modulated carrier, whatever the envelope's sign (a
// -0 included) and whichever gains (the stream's running ones or fixed offline ones).
TEST(Stream, PulsesCannotChangeANoiseCarrier) {
    const stages::Plan plan = PlanOf(Effective({{"synchronization", 0}}));
    const uint32_t k = 3000;
    std::vector<double> env = Input(k);
    env[10] = -0.0;
    env[11] = 0.0;
    std::mt19937 random(3);
    std::vector<double> train(k, 0.0);
    for (uint32_t j = 0; j < k; j += 1 + random() % 40) {
        train[j] = 1.0 / (1 + random() % 5);
    }
    const std::vector<RandomState> starts(plan.channels, SeededRandomState(9));
    const std::vector<double> gains(plan.channels, 2.5);
    for (bool running : {true, false}) {
        std::vector<std::vector<double>> out;
        for (const std::vector<double>& pulses : {train, std::vector<double>(k, 0.0)}) {
            stages::Carriers c = running ? stages::Carriers(plan, std::nullopt, k)
                                         : stages::Carriers(plan, starts, gains, k);
            std::vector<double> p = pulses;
            out.emplace_back(k);
            c.Process(0, env.data(), p.data(), k, out.back().data());
        }
        EXPECT_TRUE(SameBits(out[0], out[1])) << (running ? "stream" : "offline");
    }
}

TEST(Stream, ClipGuardClampsAndCounts) {
    const std::vector<double> x = Input(4000);
    cihear::StreamOptions loud;
    loud.outputGain = 1e6;
    cihear::Stream stream(Effective({}), loud);
    std::vector<double> out(x.size());
    stream.Process(x.data(), x.size(), out.data());
    uint64_t beyond = 0;
    for (double v : out) {
        EXPECT_LE(std::fabs(v), 1.0);
        beyond += std::fabs(v) == 1.0;
    }
    EXPECT_GT(stream.Clipped(), 0u);
    EXPECT_EQ(stream.Clipped(), beyond);
}

TEST(Stream, TakesSamplesThatAreNotNumbersAsSilence) {
    std::vector<double> x = Input(3000, 0.2);
    std::vector<double> silenced = x;
    for (size_t j = 1000; j < 1300; j++) {
        x[j] = j % 2 ? std::nan("") : -INFINITY;
        silenced[j] = 0.0;
    }
    cihear::Stream a(Effective({}));
    cihear::Stream b(Effective({}));
    EXPECT_TRUE(SameBits(Fed(a, x, [] { return 128; }), Fed(b, silenced, [] { return 128; })));
    EXPECT_EQ(a.Clipped(), 0u);
}

TEST(Stream, SeedsSetEachChannelsOwnNoise) {
    const std::vector<double> x = Input(3000);
    const cihear::Settings noisy = Effective({{"synchronization", 0}});
    auto Run = [&](std::optional<int64_t> seed) {
        cihear::StreamOptions o;
        o.seed = seed;
        cihear::Stream s(noisy, o);
        return Fed(s, x, [] { return 1000; });
    };
    EXPECT_TRUE(SameBits(Run(3), Run(3)));
    EXPECT_FALSE(SameBits(Run(3), Run(4)));
    EXPECT_FALSE(SameBits(Run(std::nullopt), Run(0)));
    // 22 channels of 100 seeds: no two sequences start alike.
    std::vector<int32_t> starts;
    for (int64_t seed : {int64_t{0}, int64_t{1}, cihear::kMaxSeed}) {
        for (uint32_t ch = 0; ch < 22; ch++) {
            starts.push_back(stages::ChannelRandomState(seed, ch).seed);
        }
    }
    std::sort(starts.begin(), starts.end());
    EXPECT_EQ(std::adjacent_find(starts.begin(), starts.end()), starts.end());
}

TEST(Stream, RefusesSeedsAndGainsOutOfRange) {
    cihear::StreamOptions o;
    o.seed = cihear::kMaxSeed + 1;
    EXPECT_THROW(cihear::Stream(Effective({}), o), std::invalid_argument);
    o.seed = std::nullopt;
    o.inputGain = INFINITY;
    EXPECT_THROW(cihear::Stream(Effective({}), o), std::invalid_argument);
    cihear::Options live;
    live.live = true;
    live.outputGain = NAN;
    const double one = 0.5;
    EXPECT_EQ(cihear::Simulate(&one, 1, 20000, Effective({}), live).status.code,
              cihear::Status::kBadInput);
}

}  // namespace
