// read and save on their own: the sample conversions in both directions.

#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "app/RunTestUtil.h"
#include "app/cli.h"
#include "dsp/Resampler.h"
#include "signal/Signal.h"

using namespace runtest;

namespace {

class SignalFileTest : public wavtest::TempDirTest {
protected:
    // What save stores for each of values, given as a signal at `rate`.
    std::vector<short> Saved(const std::vector<double>& values, uint32_t rate = 20000) {
        Signal signal(values.size(), rate);
        for (size_t i = 0; i < values.size(); i++) {
            signal.Set(i, values[i]);
        }
        const std::string path = FreshPath("saved");
        EXPECT_TRUE(save(&signal, path.c_str()));
        const Bytes file = Read(path);
        const Bytes header = OutputHeader(uint32_t(values.size()));
        EXPECT_TRUE(file.size() >= header.size() &&
                    std::equal(header.begin(), header.end(), file.begin()));
        return SamplesAfterHeader(file);
    }

    std::unique_ptr<Signal> Loaded(const Bytes& file) {
        return std::unique_ptr<Signal>(read(Write("in.wav", file).c_str()));
    }
};

TEST_F(SignalFileTest, SaveComputesCeilOfHalfUpMinusHalfAndKeepsTheLow16Bits) {
    // Negative halves move toward zero, and full scale wraps; the header says 20000 Hz whatever
    // the signal's rate.
    EXPECT_EQ(Saved({0.5, -0.5, 0.0, 1.0}, 8000), (std::vector<short>{16384, -16383, 0, -32768}));

    // Far outside the 16-bit (and 32-bit) range the stored value is that of the sample a
    // multiple of 2^16 steps nearer on the same side of zero, as two's complement wrapping
    // gives; a NaN is stored as 0. The values are exact in binary, shifted or not.
    const double step = 65536.0 / 32768.0;
    std::vector<double> near, far;
    for (double y : {9830.25, 9830.5, 9830.75, -9830.25, -9830.5, -9830.75}) {
        const double x = y / 32768.0;
        const double away = y > 0 ? step : -step;
        near.push_back(x);
        far.push_back(x + away);
        far.push_back(x + 70000 * away);  // y beyond the 32-bit range
    }
    const std::vector<short> nearSaved = Saved(near);
    const std::vector<short> farSaved = Saved(far);
    for (size_t i = 0; i < near.size(); i++) {
        SCOPED_TRACE(near[i] * 32768.0);
        EXPECT_EQ(farSaved[2 * i], nearSaved[i]);
        EXPECT_EQ(farSaved[2 * i + 1], nearSaved[i]);
    }
    EXPECT_EQ(Saved({std::numeric_limits<double>::quiet_NaN()}), std::vector<short>{0});
}

TEST_F(SignalFileTest, ReadScalesMonoAndMixesStereoTowardZero) {
    std::unique_ptr<Signal> mono = Loaded(Wav16(1, 20000, {16384, -32768, 1, 0}));
    ASSERT_NE(mono, nullptr);
    EXPECT_EQ(mono->GetSampleRate(), 20000u);
    ASSERT_EQ(mono->GetLength(), 4u);
    EXPECT_EQ(mono->Get(0), 0.5);
    EXPECT_EQ(mono->Get(1), -1.0);
    EXPECT_EQ(mono->Get(2), 1 / 32768.0);
    EXPECT_EQ(mono->Get(3), 0.0);

    // Each pair's mean, truncated toward zero to a whole 16-bit value.
    std::unique_ptr<Signal> stereo = Loaded(
        Wav16(2, 20000, {1000, -3001, 1, 2, -1, -2, 32767, 32767, -32768, -32768, -32768, 32767}));
    ASSERT_NE(stereo, nullptr);
    ASSERT_EQ(stereo->GetLength(), 6u);
    const std::vector<int> means{-1000, 1, -1, 32767, -32768, 0};
    for (size_t i = 0; i < means.size(); i++) {
        EXPECT_EQ(stereo->Get(i), means[i] / 32768.0) << i;
    }
}

TEST_F(SignalFileTest, LowRatesAreConvertedWhileTheHeldSignalStaysSmall) {
    // At 1 Hz every sample is held 20000 times: 838 samples make 16760000 held samples, within
    // 2^24; 839 make 16780000, beyond it, and are refused before anything is read.
    testing::internal::CaptureStderr();
    EXPECT_EQ(Loaded(Wav16(1, 1, std::vector<short>(839, 1000))), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error: cannot convert 839 samples at 1 Hz to 20000 Hz: the sample rate is too low "
              "for that many samples\n");
    std::unique_ptr<Signal> kept = Loaded(Wav16(1, 1, std::vector<short>(838, 1000)));
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->GetLength(), 16760000u);

    // From 1000 Hz up (held at most 20 times) the length of the file sets no limit.
    std::unique_ptr<Signal> long1000 = Loaded(Wav16(1, 1000, std::vector<short>(838861, 1000)));
    ASSERT_NE(long1000, nullptr);
    EXPECT_EQ(long1000->GetLength(), 16777220u);
}

// The file read block by block gives what the whole file, mixed, scaled and converted at once,
// gives: the same bits, length and rate.
TEST_F(SignalFileTest, ReadGivesTheWholeFilesConversion) {
    struct Case {
        uint16_t channels;
        uint32_t rate;
    };
    const Case cases[] = {{1, 1},     {2, 8000},  {1, 16000}, {1, 20000},
                          {2, 22050}, {2, 44100}, {1, 96000}};
    for (const Case& c : cases) {
        // Up to 3 frames, and more than one block of the file (65536 frames) where the rate
        // allows it.
        for (uint32_t frames : {0u, 1u, 2u, 3u, c.rate < 1000 ? 800u : 70001u}) {
            SCOPED_TRACE(testing::Message() << c.channels << " x " << c.rate << " Hz, " << frames);
            const std::vector<short> samples = runtest::Tone(c.rate, frames, c.channels);
            std::vector<int16_t> mono(samples.begin(), samples.end());
            if (c.channels == 2) {
                mono = cihear::MixStereo16(mono.data(), frames);
            }
            const std::vector<double> x = cihear::FromPcm16(mono.data(), frames);
            Signal input(frames, c.rate);
            std::copy(x.begin(), x.end(), input.GetSamples());
            std::unique_ptr<Signal> whole(Resampler().Run(&input, 20000));

            std::unique_ptr<Signal> loaded = Loaded(Wav16(c.channels, c.rate, samples));
            ASSERT_NE(loaded, nullptr);
            ASSERT_EQ(loaded->GetLength(), whole->GetLength());
            EXPECT_EQ(loaded->GetSampleRate(), whole->GetSampleRate());
            EXPECT_EQ(std::memcmp(loaded->GetSamples(), whole->GetSamples(),
                                  whole->GetLength() * sizeof(double)),
                      0);
        }
    }
}

}  // namespace
