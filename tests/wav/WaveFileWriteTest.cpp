#include <gtest/gtest.h>
#include <sys/types.h>

#include <cmath>
#include <limits>

#include "WavTestUtil.h"
#include "wav/WaveFile.h"

using namespace wavtest;

namespace {

class WaveFileWriteTest : public TempDirTest {
protected:
    // The 44-byte header as another program would write it.
    static Bytes Header(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t dataLength) {
        return Cat({Id("RIFF"), LE32(dataLength + 36), Id("WAVE"), Fmt(channels, rate, bits),
                    Id("data"), LE32(dataLength)});
    }

    // Writes the values with WriteSample at the given depth and returns the sample bytes.
    template <typename T>
    Bytes WriteValues(uint16_t bits, std::initializer_list<T> values) {
        const std::string path = FreshPath("values");
        WaveFile w;
        EXPECT_TRUE(w.OpenWrite(path.c_str()));
        w.SetupFormat(8000, static_cast<short>(bits), 1);
        for (T v : values) {
            EXPECT_TRUE(w.WriteSample(v)) << v;
        }
        EXPECT_TRUE(w.Close());
        const Bytes file = Read(path);
        return Bytes(file.begin() + 44, file.end());
    }
};

TEST_F(WaveFileWriteTest, SetupFormatDerivesBlockAlignAndByteRate) {
    struct Case {
        int rate;
        short bits, channels;
        uint16_t bytesPerSample;
        uint32_t bytesPerSecond;
    };
    for (const Case& c :
         {Case{20000, 16, 1, 2, 40000}, Case{44100, 8, 2, 2, 88200}, Case{8000, 12, 1, 1, 8000}}) {
        WaveFile w;
        w.SetDataLength(77);
        w.SetupFormat(c.rate, c.bits, c.channels);
        EXPECT_EQ(w.GetFormatType(), 1u);
        EXPECT_EQ(w.GetSampleRate(), static_cast<uint32_t>(c.rate));
        EXPECT_EQ(w.GetBitsPerChannel(), static_cast<uint16_t>(c.bits));
        EXPECT_EQ(w.GetNumChannels(), static_cast<uint16_t>(c.channels));
        EXPECT_EQ(w.GetBytesPerSample(), c.bytesPerSample);
        EXPECT_EQ(w.GetBytesPerSecond(), c.bytesPerSecond);
        EXPECT_EQ(w.GetDataLength(), 0u);
    }
}

TEST_F(WaveFileWriteTest, HundredFramesMakeTheCanonicalFile) {
    std::vector<short> samples(100);
    for (size_t i = 0; i < samples.size(); i++) {
        samples[i] = static_cast<short>(i * 331 - 16000);
    }
    const std::string path = Path("out.wav");
    {
        WaveFile w;
        ASSERT_TRUE(w.OpenWrite(path.c_str()));
        w.SetupFormat(20000, 16, 1);
        ASSERT_TRUE(w.WriteSamples(samples.data(), samples.size()));
        EXPECT_EQ(w.GetDataLength(), 200u);
        EXPECT_EQ(w.GetNumSamples(), 100u);
        ASSERT_TRUE(w.Close());
    }
    const Bytes file = Read(path);
    ASSERT_EQ(file.size(), 244u);
    EXPECT_EQ(GetLE32(file, 4), 236u);
    EXPECT_EQ(GetLE32(file, 40), 200u);
    EXPECT_EQ(file, Cat({Header(1, 20000, 16, 200), Samples16(samples)}));
}

TEST_F(WaveFileWriteTest, DestructorFinishesTheHeader) {
    const std::string path = Path("destroyed.wav");
    {
        WaveFile w;
        ASSERT_TRUE(w.OpenWrite(path.c_str()));
        w.SetupFormat(8000, 16, 2);
        short frame[2] = {1, -1};
        ASSERT_TRUE(w.WriteSamples(frame, 1));
    }
    EXPECT_EQ(Read(path), Cat({Header(2, 8000, 16, 4), Samples16({1, -1})}));
}

TEST_F(WaveFileWriteTest, HeaderIsRewrittenOnlyWhenSomethingChanged) {
    WaveFile other;
    other.SetupFormat(44100, 8, 2);
    const Bytes atOpen = Header(1, 20000, 16, 0);

    const std::string plain = Path("plain.wav");
    WaveFile w;
    w.SetupFormat(20000, 16, 1);
    ASSERT_TRUE(w.OpenWrite(plain.c_str()));
    EXPECT_TRUE(w.Close());
    EXPECT_EQ(Read(plain), atOpen);

    const std::string copied = Path("copied.wav");
    ASSERT_TRUE(w.OpenWrite(copied.c_str()));
    w.CopyFormatFrom(other);
    EXPECT_TRUE(w.FormatMatches(other));
    EXPECT_TRUE(w.Close());
    EXPECT_EQ(Read(copied), atOpen);

    const std::string set = Path("set.wav");
    w.SetupFormat(20000, 16, 1);
    ASSERT_TRUE(w.OpenWrite(set.c_str()));
    w.SetSampleRate(16000);
    EXPECT_TRUE(w.Close());
    Bytes expected = Header(1, 20000, 16, 0);
    const Bytes rate = LE32(16000);
    std::copy(rate.begin(), rate.end(), expected.begin() + 24);
    EXPECT_EQ(Read(set), expected);
}

TEST_F(WaveFileWriteTest, RawWritesAddUp) {
    const std::string path = Path("raw.wav");
    WaveFile w;
    w.SetupFormat(8000, 8, 1);
    ASSERT_TRUE(w.OpenWrite(path.c_str()));
    char bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_TRUE(w.WriteRaw(bytes, 10));
    ASSERT_TRUE(w.WriteRaw(bytes, 10));
    EXPECT_EQ(w.GetDataLength(), 20u);
    ASSERT_TRUE(w.Close());
    const Bytes file = Read(path);
    ASSERT_EQ(file.size(), 64u);
    EXPECT_EQ(GetLE32(file, 4), 56u);
    EXPECT_EQ(GetLE32(file, 40), 20u);
}

TEST_F(WaveFileWriteTest, FloatsAreScaledTruncatedAndWrapped) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // 32767 * 1.5 = 49150.5 -> 49150 -> low 16 bits -16386; 2.0 gives 65534 -> -2; products
    // outside the 32-bit range or NaN become INT32_MIN, whose low bits are 0.
    EXPECT_EQ(WriteValues<double>(16, {1.5, 1.0, -1.0, 0.0, 2.0, -0.99999, nan, 1e10, -1e10}),
              Samples16({-16386, 32767, -32767, 0, -2, -32766, 0, 0, 0}));
    EXPECT_EQ(WriteValues<float>(16, {1.5f, -1.0f, 0.5f}), Samples16({-16386, -32767, 16383}));
    // 127 * (v + 1): 1.0 -> 254, -1.0 -> 0, 0.0 -> 127, 1.5 -> 317.5 -> 317 -> low byte 61.
    EXPECT_EQ(WriteValues<double>(8, {1.0, -1.0, 0.0, 1.5, nan}), (Bytes{254, 0, 127, 61, 0}));
    EXPECT_EQ(WriteValues<float>(8, {1.0f, -1.0f}), (Bytes{254, 0}));
}

TEST_F(WaveFileWriteTest, SamplesOfTheWrongDepthAreRefusedBeforeTheFile) {
    const std::string path = Path("depth.wav");
    WaveFile w;
    w.SetupFormat(8000, 16, 1);
    ASSERT_TRUE(w.OpenWrite(path.c_str()));
    unsigned char byte = 1;
    EXPECT_FALSE(w.WriteSample(byte));
    EXPECT_STREQ(w.GetError(), "Sample size mismatch");
    EXPECT_FALSE(w.WriteSamples(&byte, 1));
    w.SetupFormat(8000, 24, 1);
    EXPECT_FALSE(w.WriteSample(0.5));
    EXPECT_STREQ(w.GetError(), "Floats can be written only as 8 or 16-bit samples");
    EXPECT_FALSE(w.WriteSample(0.5f));
    short s = 1;
    EXPECT_FALSE(w.WriteSample(s));
    EXPECT_STREQ(w.GetError(), "Sample size mismatch");
    EXPECT_EQ(w.GetDataLength(), 0u);
    EXPECT_EQ(ftello(w.GetFile()), 44);
}

TEST_F(WaveFileWriteTest, ResetToStartRewritesTheSamples) {
    const std::string path = Path("rewrite.wav");
    WaveFile w;
    w.SetupFormat(8000, 16, 1);
    ASSERT_TRUE(w.OpenWrite(path.c_str()));
    short first[4] = {1, 2, 3, 4};
    ASSERT_TRUE(w.WriteSamples(first, 4));
    ASSERT_TRUE(w.ResetToStart());
    EXPECT_EQ(ftello(w.GetFile()), 44);
    short second[2] = {-5, -6};
    ASSERT_TRUE(w.WriteSamples(second, 2));
    EXPECT_EQ(w.GetDataLength(), 8u);  // overwritten, not added
    short third[3] = {7, 8, 9};
    ASSERT_TRUE(w.WriteSamples(third, 3));
    EXPECT_EQ(w.GetDataLength(), 10u);  // two replaced, one added
    ASSERT_TRUE(w.Close());
    EXPECT_EQ(Read(path), Cat({Header(1, 8000, 16, 10), Samples16({-5, -6, 7, 8, 9})}));
}

TEST_F(WaveFileWriteTest, WriteFailuresAreReported) {
    WaveFile w;
    char byte = 0;
    EXPECT_FALSE(w.WriteRaw(&byte, 1));
    EXPECT_STREQ(w.GetError(), "Couldn't write samples");
    EXPECT_TRUE(w.Close());
    EXPECT_FALSE(w.ResetToStart());
    EXPECT_EQ(w.GetFile(), nullptr);

    EXPECT_FALSE(w.OpenWrite(Path("no/such/dir.wav").c_str()));
    EXPECT_STREQ(w.GetError(), "Couldn't open output file");
    EXPECT_EQ(w.GetFile(), nullptr);

    // The header and samples are still buffered when Close flushes them onto a full device.
    if (FILE* probe = std::fopen("/dev/full", "wb")) {
        std::fclose(probe);
        ASSERT_TRUE(w.OpenWrite("/dev/full"));
        EXPECT_FALSE(w.Close());
        EXPECT_STREQ(w.GetError(), "Couldn't write samples");
    }
}

TEST_F(WaveFileWriteTest, DataLengthStopsShortOfTheRiffLimit) {
    const std::string path = Path("limit.wav");
    WaveFile w;
    w.SetupFormat(8000, 8, 1);
    ASSERT_TRUE(w.OpenWrite(path.c_str()));
    w.SetDataLength(0xFFFFFFFFu - 36 - 5);
    char bytes[10] = {};
    EXPECT_FALSE(w.WriteRaw(bytes, 6));
    EXPECT_STREQ(w.GetError(), "Couldn't write samples");
    EXPECT_EQ(ftello(w.GetFile()), 44);  // nothing reached the file
    EXPECT_TRUE(w.WriteRaw(bytes, 5));
    EXPECT_EQ(w.GetDataLength(), 0xFFFFFFFFu - 36);
    EXPECT_FALSE(w.WriteRaw(bytes, 1));
}

TEST_F(WaveFileWriteTest, NumSamplesAndDataLength) {
    WaveFile w;
    w.SetupFormat(8000, 16, 2);
    w.SetNumSamples(250);
    EXPECT_EQ(w.GetDataLength(), 1000u);
    EXPECT_EQ(w.GetNumSamples(), 250u);
    w.SetDataLength(1003);
    EXPECT_EQ(w.GetNumSamples(), 250u);
    w.SetBytesPerSample(0);
    EXPECT_EQ(w.GetNumSamples(), 0u);
    w.SetDataLength(0x1'0000'0004ul);  // stored in 32 bits
    EXPECT_EQ(w.GetDataLength(), 4u);
}

}  // namespace
