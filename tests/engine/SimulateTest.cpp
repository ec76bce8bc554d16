#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "engine/Engine.h"

namespace {

// A second of a harmonic complex with a gliding pitch and a pause, at `rate` Hz.
std::vector<double> Speechlike(uint32_t rate, double seconds = 0.5) {
    std::vector<double> x(static_cast<size_t>(rate * seconds));
    double phase = 0.0;
    for (size_t i = 0; i < x.size(); i++) {
        const double t = static_cast<double>(i) / rate;
        phase += 2.0 * M_PI * (120.0 + 80.0 * t) / rate;
        double v = 0.0;
        for (int h = 1; h <= 12; h++) {
            v += std::sin(h * phase) / h;
        }
        x[i] = (t > 0.2 && t < 0.25) ? 0.0 : 0.2 * v;
    }
    return x;
}

std::vector<double> Simulated(const std::vector<double>& x, uint32_t rate,
                              const cihear::Settings& s, cihear::Options o = cihear::Options()) {
    const cihear::Result r = cihear::Simulate(x.data(), x.size(), rate, s, o);
    EXPECT_TRUE(r.status.ok()) << r.status.message;
    return r.output;
}

TEST(SimulateTest, SameArgumentsSameOutputWhateverRanBefore) {
    const auto x = Speechlike(22050);
    cihear::Settings s;
    s.synchronization = 0.5;  // noise carrier: the random sequence shows
    const auto first = Simulated(x, 22050, s);
    EXPECT_EQ(first.size(), static_cast<size_t>(std::floor(x.size() * 20000.0 / 22050)));
    EXPECT_EQ(Simulated(x, 22050, s), first);

    cihear::Options seeded;
    seeded.seed = 7;
    const auto seven = Simulated(x, 22050, s, seeded);
    EXPECT_EQ(Simulated(x, 22050, s, seeded), seven);
    EXPECT_NE(seven, first);
    seeded.seed = 8;
    EXPECT_NE(Simulated(x, 22050, s, seeded), seven);
    EXPECT_EQ(Simulated(x, 22050, s), first);
}

TEST(SimulateTest, ConcurrentSimulationsGiveWhatEachGivesAlone) {
    const auto x = Speechlike(20000);
    std::vector<cihear::Settings> settings(4);
    settings[1].synchronization = 0.3;
    settings[2].envelope_detection = 1;
    settings[3].eas = true;
    std::vector<std::vector<double>> alone;
    for (const auto& s : settings) {
        alone.push_back(Simulated(x, 20000, s));
    }
    std::vector<std::vector<double>> together(settings.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < settings.size(); i++) {
        threads.emplace_back([&, i] { together[i] = Simulated(x, 20000, settings[i]); });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(together, alone);
}

TEST(SimulateTest, HeldSignalsBeyond32BitLengthsAreRefused) {
    // 8000 Hz is held 3 times: 1.4 billion frames (a 2.9 GB file) would need 4.2 billion held
    // samples, 1.5 billion would need more than 32-bit lengths hold.
    EXPECT_EQ(engine::Unconvertible(1400000000, 8000), "");
    EXPECT_EQ(engine::Unconvertible(1500000000, 8000),
              "cannot convert 1500000000 samples at 8000 Hz to 20000 Hz: the sample rate is too "
              "low for that many samples");
    EXPECT_EQ(engine::Unconvertible(4000000000u, 44100), "");  // lowered, never held
}

TEST(SimulateTest, RefusesWhatItCannotConvert) {
    const std::vector<double> x(100000, 0.0);
    cihear::Result r = cihear::Simulate(x.data(), x.size(), 0, cihear::Settings());
    EXPECT_EQ(r.status.code, cihear::Status::kBadInput);
    EXPECT_EQ(r.status.message, "invalid sample rate (0 Hz)");
    r = cihear::Simulate(x.data(), x.size(), 10, cihear::Settings());
    EXPECT_EQ(r.status.code, cihear::Status::kRateTooLow);
    EXPECT_EQ(r.status.message,
              "cannot convert 100000 samples at 10 Hz to 20000 Hz: the sample rate is too low "
              "for that many samples");
    cihear::Options o;
    o.seed = -1;
    r = cihear::Simulate(x.data(), 10, 20000, cihear::Settings(), o);
    EXPECT_EQ(r.status.code, cihear::Status::kBadInput);
    EXPECT_TRUE(r.output.empty());
    r = cihear::Simulate(nullptr, 0, 44100, cihear::Settings());
    EXPECT_TRUE(r.status.ok());
    EXPECT_TRUE(r.output.empty());
}

TEST(SimulateTest, PcmStepsFollowTheFileRules) {
    const int16_t stereo[] = {1, 2, -1, -2, 32767, 32767, -32768, -32768, 1000, -3001};
    EXPECT_EQ(cihear::MixStereo16(stereo, 5), (std::vector<int16_t>{1, -1, 32767, -32768, -1000}));
    const int16_t mono[] = {16384, -32768};
    EXPECT_EQ(cihear::FromPcm16(mono, 2), (std::vector<double>{0.5, -1.0}));
    EXPECT_EQ(cihear::ToPcm16(0.5), 16384);
    EXPECT_EQ(cihear::ToPcm16(-0.5), -16383);
    EXPECT_EQ(cihear::ToPcm16(1.0), -32768);
    EXPECT_EQ(cihear::ToPcm16(NAN), 0);
}

// The 16-bit conversion's integer shortcut gives what its floating-point steps give (round half
// up, then the low 16 bits of the integer, two's complement), for every magnitude and sign.
TEST(SimulateTest, PcmConversionShortcutMatchesTheFloatingPointSteps) {
    auto steps = [](double sample) -> int16_t {
        const double y = sample * 32768.0;
        const double c = std::ceil(y + 0.5);
        const double low = std::fmod(std::trunc(c - 0.5), 65536.0);
        if (!std::isfinite(low)) {
            return 0;
        }
        const int bits = static_cast<int>(low < 0.0 ? low + 65536.0 : low);
        return static_cast<int16_t>(bits < 0x8000 ? bits : bits - 0x10000);
    };
    std::vector<double> values = {0.0,
                                  -0.0,
                                  INFINITY,
                                  -INFINITY,
                                  NAN,
                                  0x1p52 / 32768.0,
                                  -0x1p52 / 32768.0,
                                  0x1p53 / 32768.0,
                                  1e300,
                                  -1e300,
                                  4.9e-324};
    // Every half step around the clipping points and the 16-bit wrap, and a little either side.
    for (double base : {0.0, 32767.0, 32768.0, 65535.0, 65536.0, 0x1p51, 0x1p52 - 8.0}) {
        for (double sign : {1.0, -1.0}) {
            for (double step = -4.0; step <= 4.0; step += 0.5) {
                const double y = sign * (base + step);
                for (double nudge : {0.0, 1e-9, -1e-9}) {
                    values.push_back((y + nudge) / 32768.0);
                }
            }
        }
    }
    uint64_t state = 12345;
    for (int i = 0; i < 200000; i++) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const double mantissa = static_cast<double>(state >> 11) * 0x1p-53;
        const int exponent = static_cast<int>((state >> 3) % 80) - 30;
        values.push_back((state & 1 ? -1.0 : 1.0) * std::ldexp(mantissa, exponent));
    }
    for (double v : values) {
        ASSERT_EQ(cihear::ToPcm16(v), steps(v)) << v;
    }
}

// The electrodogram is read off the same run that makes the output.
TEST(InspectionTest, ElectrodogramFollowsTheSelection) {
    const auto x = Speechlike(20000);
    for (double rate : {1800.0, 900.0, 713.0}) {
        cihear::Settings s;
        s.rate = rate;
        s.n_on = 4;
        cihear::Options o;
        o.inspect = true;
        o.envelopes = true;
        const cihear::Result r = cihear::Simulate(x.data(), x.size(), 20000, s, o);
        ASSERT_TRUE(r.status.ok());
        EXPECT_EQ(r.output, Simulated(x, 20000, s)) << "inspecting changes nothing";
        const cihear::Inspection& in = r.inspection;
        ASSERT_EQ(in.channels, 12u);
        const double fs = 20000.0;
        const size_t cycles = static_cast<size_t>(std::floor(x.size() * (rate / fs) - 1.0));
        ASSERT_EQ(in.frames, cycles - 1) << rate;
        for (size_t f = 0; f < in.frames; f++) {
            // Frame c = f + 1 starts at floor((c - 1) fs / R) and ends where frame c + 1 starts.
            EXPECT_EQ(in.frameStarts[f], static_cast<int64_t>(std::floor(f * (fs / rate))));
            EXPECT_EQ(in.frameStarts[f] + in.frameLengths[f],
                      static_cast<int64_t>(std::floor((f + 1) * (fs / rate))));
            size_t on = 0;
            for (size_t ch = 0; ch < in.channels; ch++) {
                const double level = in.electrodogram[ch * in.frames + f];
                if (in.selected[ch * in.frames + f]) {
                    on++;
                } else {
                    EXPECT_EQ(level, 0.0);
                }
            }
            EXPECT_GE(on, 1u);
            EXPECT_LE(on, 4u);
        }
        EXPECT_EQ(in.envelopes.size(), in.channels * r.output.size());
        EXPECT_EQ(in.design.bands.size(), 12u);
        EXPECT_EQ(in.design.interactionWeights[1], in.design.interactionFactor);
    }
}

}  // namespace
