// The conversion in blocks against the whole-signal Resampler: the same bits, length and rate
// for every rate, length and split of the input.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "dsp/BlockResampler.h"
#include "dsp/Resampler.h"

namespace {

// What a 16-bit file gives: pseudo-random samples of varying loudness, a stretch of digital
// silence in the middle (the shortcuts of the filter, interpolator and normaliser) and the
// extremes of the range.
std::unique_ptr<Signal> FileLike(uint32_t length, uint32_t rate) {
    std::unique_ptr<Signal> s(new Signal(length, rate));
    uint32_t state = 12345u + length;
    for (uint32_t i = 0; i < length; i++) {
        state = state * 1664525u + 1013904223u;
        int value = static_cast<int16_t>(state >> 16) >> (i / 64 % 4);
        if (i > length / 3 && i < length / 2) {
            value = 0;
        } else if (i % 97 == 5) {
            value = i % 2 ? 32767 : -32768;
        }
        s->Set(i, value / 32768.0);
    }
    return s;
}

struct Pieces {
    std::vector<uint32_t> sizes;  // as asked for, in order
};

// Converts input in blocks, taking its samples in order from the front.
std::unique_ptr<Signal> InBlocks(const Signal& input, uint32_t block, Pieces* pieces = nullptr) {
    uint32_t taken = 0;
    const SampleSource next = [&](double* samples, uint32_t count) {
        EXPECT_LE(taken + uint64_t{count}, input.GetLength());
        std::copy(input.GetSamples() + taken, input.GetSamples() + taken + count, samples);
        taken += count;
        if (pieces) {
            pieces->sizes.push_back(count);
        }
        return true;
    };
    std::unique_ptr<Signal> out =
        ResampleInBlocks(input.GetLength(), input.GetSampleRate(), 20000, next, block);
    EXPECT_EQ(taken, input.GetLength()) << "not every input sample was taken";
    return out;
}

void ExpectSameBits(const Signal& expected, const Signal& actual) {
    ASSERT_EQ(actual.GetLength(), expected.GetLength());
    EXPECT_EQ(actual.GetSampleRate(), expected.GetSampleRate());
    for (uint32_t i = 0; i < expected.GetLength(); i++) {
        ASSERT_EQ(std::memcmp(&expected.Get(i), &actual.Get(i), sizeof(double)), 0)
            << "sample " << i << ": " << expected.Get(i) << " vs " << actual.Get(i);
    }
}

TEST(BlockResamplerTest, EveryRateLengthAndSplitGivesTheWholeSignalsBits) {
    // Holds of 20000, 21, 20, 3, 2 and 2 (22 Hz below 20000), equal rates, and downsampling.
    const uint32_t rates[] = {1,     952,   1000,  8000,  11025, 19999, 20000,
                              20001, 22050, 44100, 48000, 96000, 200000};
    for (uint32_t rate : rates) {
        const uint64_t hold = rate < 20000 ? (20000 + rate - 1) / rate : 1;
        // Lengths 0 to 5, and one long enough for the filter and the silence to matter.
        std::vector<uint32_t> lengths = {0, 1, 2, 3, 4, 5};
        lengths.push_back(static_cast<uint32_t>(std::min<uint64_t>(4000, 300000 / hold)));
        for (uint32_t length : lengths) {
            auto input = FileLike(length, rate);
            std::unique_ptr<Signal> whole(Resampler().Run(input.get(), 20000));
            // One sample at a time, splits inside a sample's repetitions and across them, one
            // block for everything.
            const uint32_t k = static_cast<uint32_t>(hold);
            for (uint32_t block : {1u, 2u, 3u, 7u, k + 1, 2 * k - 1, 1000u, 1u << 16}) {
                if (block == 1 && uint64_t{length} * hold > 100000) {
                    continue;  // correct but slow
                }
                SCOPED_TRACE(testing::Message()
                             << rate << " Hz, " << length << " samples, blocks of " << block);
                std::unique_ptr<Signal> blocks = InBlocks(*input, block);
                ASSERT_NE(blocks, nullptr);
                ExpectSameBits(*whole, *blocks);
            }
        }
    }
}

TEST(BlockResamplerTest, SilenceAndAConstantStayExact) {
    // Silence is not normalised into anything; a held constant reaches its normalised level.
    for (uint32_t rate : {8000u, 44100u}) {
        for (double value : {0.0, -0.25}) {
            std::unique_ptr<Signal> input(new Signal(5000, rate));
            std::fill(input->GetSamples(), input->GetSamples() + 5000, value);
            std::unique_ptr<Signal> whole(Resampler().Run(input.get(), 20000));
            for (uint32_t block : {5u, 333u}) {
                ExpectSameBits(*whole, *InBlocks(*input, block));
            }
        }
    }
}

TEST(BlockResamplerTest, TheInputIsAskedForInOrderInBoundedPieces) {
    auto input = FileLike(1000, 8000);
    Pieces pieces;
    InBlocks(*input, 300, &pieces);
    EXPECT_EQ(pieces.sizes, (std::vector<uint32_t>{300, 300, 300, 100}));
}

TEST(BlockResamplerTest, AFailingSourceGivesNothing) {
    for (uint32_t rate : {8000u, 20000u, 44100u, 0u}) {
        uint32_t calls = 0;
        const SampleSource failsSecond = [&](double*, uint32_t) { return ++calls < 2; };
        EXPECT_EQ(ResampleInBlocks(1000, rate, 20000, failsSecond, 400), nullptr) << rate;
        EXPECT_EQ(calls, 2u) << rate;
    }
}

TEST(BlockResamplerTest, ImpossibleConversionsTakeTheInputAndGiveAnEmptySignal) {
    // A rate of 0, and a held signal whose length (3 * (2^32 - 1)) would not fit 32 bits.
    std::unique_ptr<Signal> rateless(new Signal(100, 0));
    std::unique_ptr<Signal> out = InBlocks(*rateless, 30);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->GetLength(), 0u);
    EXPECT_EQ(out->GetSampleRate(), 0u);

    uint32_t taken = 0;
    const SampleSource next = [&](double*, uint32_t count) {
        taken += count;
        return true;
    };
    out = ResampleInBlocks(3, 1, 4294967295u, next, 2);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->GetLength(), 0u);
    EXPECT_EQ(taken, 3u);
}

}  // namespace
