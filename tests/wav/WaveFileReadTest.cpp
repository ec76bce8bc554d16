#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/types.h>

#include "WavTestUtil.h"
#include "wav/WaveFile.h"

using namespace wavtest;

namespace {

class WaveFileReadTest : public TempDirTest {
protected:
    // Opens a file made of `bytes`, expecting success.
    void Open(WaveFile& w, const std::string& name, const Bytes& bytes) {
        ASSERT_TRUE(w.OpenRead(Write(name, bytes).c_str())) << name << ": " << w.GetError();
    }

    // Expects opening a file made of `bytes` to fail with `message`.
    void ExpectRefused(const std::string& name, const Bytes& bytes, const char* message) {
        WaveFile w;
        EXPECT_FALSE(w.OpenRead(Write(name, bytes).c_str())) << name;
        EXPECT_STREQ(w.GetError(), message) << name;
        EXPECT_EQ(w.GetFile(), nullptr) << name;
    }

    static const std::vector<short>& Some() {
        static const std::vector<short> v = {0, 1, -1, 32767, -32768, 1234, -4321, 7};
        return v;
    }
};

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) {
            n++;
        }
        closedir(d);
    }
    return n;
}

TEST_F(WaveFileReadTest, ReadsFormatAndSamplesOfACanonicalFile) {
    WaveFile w;
    Open(w, "mono.wav", Wave(Cat({Fmt(1, 22050, 16), Chunk("data", Samples16(Some()))})));
    EXPECT_EQ(w.GetSampleRate(), 22050u);
    EXPECT_EQ(w.GetNumChannels(), 1u);
    EXPECT_EQ(w.GetBitsPerChannel(), 16u);
    EXPECT_EQ(w.GetBytesPerSample(), 2u);
    EXPECT_EQ(w.GetBytesPerSecond(), 44100u);
    EXPECT_EQ(w.GetFormatType(), 1u);
    EXPECT_EQ(w.GetDataLength(), 16u);
    EXPECT_EQ(w.GetAvailableDataLength(), 16u);
    EXPECT_EQ(w.GetNumSamples(), 8u);
    std::vector<short> got(8);
    ASSERT_TRUE(w.ReadSamples(got.data(), 8));
    EXPECT_EQ(got, Some());
    short past = 0;
    EXPECT_FALSE(w.ReadSample(past));
    EXPECT_STREQ(w.GetError(), "Couldn't read samples");
    ASSERT_TRUE(w.ResetToStart());
    ASSERT_TRUE(w.ReadSample(past));
    EXPECT_EQ(past, 0);
    EXPECT_TRUE(w.Close());
    EXPECT_EQ(w.GetSampleRate(), 22050u);  // the format outlives the file
}

TEST_F(WaveFileReadTest, FloatReadsScaleEachDepth) {
    WaveFile w;
    Open(w, "f16.wav", Wave(Cat({Fmt(1, 8000, 16), Chunk("data", Samples16({-32768, 16384}))})));
    double d = 0;
    ASSERT_TRUE(w.ReadSample(d));
    EXPECT_EQ(d, -32768 / 32767.0);
    float f = 0;
    ASSERT_TRUE(w.ReadSample(f));
    EXPECT_EQ(f, static_cast<float>(16384 / 32767.0));

    Open(w, "f8.wav", Wave(Cat({Fmt(1, 8000, 8), Chunk("data", Bytes{0, 127, 255})})));
    for (int b : {0, 127, 255}) {
        ASSERT_TRUE(w.ReadSample(d));
        EXPECT_EQ(d, b / 127.0 - 1.0);
    }

    Open(w, "f24.wav", Wave(Cat({Fmt(1, 8000, 24), Chunk("data", Bytes(6, 1))})));
    d = 42.0;
    f = 42.0f;
    EXPECT_FALSE(w.ReadSample(d));
    EXPECT_FALSE(w.ReadSample(f));
    EXPECT_STREQ(w.GetError(), "Floats can be written only as 8 or 16-bit samples");
    EXPECT_EQ(d, 42.0);
    EXPECT_EQ(f, 42.0f);
}

TEST_F(WaveFileReadTest, WrongDepthReadsNothing) {
    WaveFile w;
    Open(w, "eight.wav", Wave(Cat({Fmt(1, 8000, 8), Chunk("data", Bytes{10, 20, 30, 40})})));
    short buf[2] = {-7, -7};
    EXPECT_FALSE(w.ReadSamples(buf, 2));
    EXPECT_STREQ(w.GetError(), "Sample size mismatch");
    EXPECT_EQ(buf[0], -7);
    EXPECT_EQ(buf[1], -7);
    EXPECT_EQ(ftello(w.GetFile()), 44);
    unsigned char bytes[4];
    ASSERT_TRUE(w.ReadSamples(bytes, 4));
    EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{10, 20, 30, 40}));
}

TEST_F(WaveFileReadTest, FramesCountAllChannels) {
    WaveFile w;
    Open(w, "stereo.wav", Wave(Cat({Fmt(2, 8000, 16), Chunk("data", Bytes(1000, 0))})));
    EXPECT_EQ(w.GetNumSamples(), 250u);
    std::vector<short> buf(500);
    EXPECT_TRUE(w.ReadSamples(buf.data(), 250));
    EXPECT_FALSE(w.ReadSamples(buf.data(), 1));
}

TEST_F(WaveFileReadTest, OpenFailuresNameTheirCause) {
    ExpectRefused("text.wav", Text("just some text\n", false), "Couldn't open file");
    ExpectRefused("short.wav", Cat({Id("RIFF"), LE32(4)}), "Couldn't open file");
    ExpectRefused("avi.wav", Form("RIFF", "AVI ", Fmt(1, 8000, 16)),
                  "Couldn't find RIFF, WAVE, or fmt");
    ExpectRefused("nofmt.wav", Wave(Chunk("data", LE32(0))), "Couldn't find RIFF, WAVE, or fmt");
    ExpectRefused("nodata.wav", Wave(Fmt(1, 8000, 16)), "Couldn't find data chunk");
    // A "data" chunk hidden inside "fmt " content is not a chunk of the form.
    ExpectRefused("inner.wav",
                  Wave(Chunk("fmt ", Cat({FmtContent(1, 1, 8000, 16), Chunk("data", LE32(0))}))),
                  "Couldn't find data chunk");
    WaveFile w;
    EXPECT_FALSE(w.OpenRead(Path("missing.wav").c_str()));
    EXPECT_STREQ(w.GetError(), "Couldn't open file");
    EXPECT_FALSE(w.OpenRead(dir.c_str()));
    EXPECT_STREQ(w.GetError(), "Couldn't open file");
}

TEST_F(WaveFileReadTest, FormatChunkMustHoldSixteenBytesThatAreInTheFile) {
    const Bytes fmt = FmtContent(1, 1, 8000, 16);
    const Bytes data = Chunk("data", LE32(0));
    const char* message = "Error reading format chunk";
    ExpectRefused("fmt14.wav",
                  Wave(Cat({Chunk("fmt ", Bytes(fmt.begin(), fmt.begin() + 14)), data})), message);
    ExpectRefused("fmt0.wav", Wave(Cat({Chunk("fmt ", Bytes()), data})), message);
    // Claims of gigabytes are checked against the file before anything is read.
    ExpectRefused("fmtbig.wav", Wave(ChunkClaiming("fmt ", 0xFFFFFFF0u, Cat({fmt, data}))),
                  message);
    ExpectRefused("fmtcut.wav", Wave(ChunkClaiming("fmt ", 20, fmt)), message);
    WaveFile w;
    Open(w, "fmt16.wav", Wave(Cat({Chunk("fmt ", fmt), data})));
}

TEST_F(WaveFileReadTest, FilesOfOtherProgramsOpen) {
    const Bytes samples = Samples16(Some());
    const Bytes extensible = FmtContent(
        0xFFFE, 1, 48000, 16,
        Cat({LE16(22), LE16(16), LE32(4),
             Bytes{0x01, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}}));
    const Bytes info = Form("LIST", "INFO",
                            Cat({Chunk("ISFT", Text("some tool")),  // odd: 10
                                 Chunk("INAM", Text("ab"))}));
    struct Case {
        const char* name;
        Bytes file;
        uint16_t formatType;
        uint32_t rate;
    } cases[] = {
        {"fmt18.wav",
         Wave(Cat({Chunk("fmt ", FmtContent(1, 1, 44100, 16, LE16(0))), Chunk("data", samples)})),
         1, 44100},
        {"fmt40.wav", Wave(Cat({Chunk("fmt ", extensible), Chunk("data", samples)})), 0xFFFE,
         48000},
        {"list.wav",
         Wave(Cat({Fmt(1, 16000, 16), info, Chunk("odd ", Bytes(3, 9)), Chunk("data", samples)})),
         1, 16000},
        {"datafirst.wav", Wave(Cat({Chunk("data", samples), Fmt(1, 11025, 16)})), 1, 11025},
        {"fact.wav", Wave(Cat({Fmt(1, 8000, 16), Chunk("fact", LE32(8)), Chunk("data", samples)})),
         1, 8000},
    };
    for (const Case& c : cases) {
        WaveFile w;
        Open(w, c.name, c.file);
        EXPECT_EQ(w.GetFormatType(), c.formatType) << c.name;
        EXPECT_EQ(w.GetSampleRate(), c.rate) << c.name;
        EXPECT_EQ(w.GetBitsPerChannel(), 16u) << c.name;
        EXPECT_EQ(w.GetNumSamples(), Some().size()) << c.name;
        std::vector<short> got(Some().size());
        ASSERT_TRUE(w.ReadSamples(got.data(), got.size())) << c.name;
        EXPECT_EQ(got, Some()) << c.name;
    }
}

TEST_F(WaveFileReadTest, DataClaimingMoreThanTheFileHolds) {
    const Bytes file =
        Wave(Cat({Fmt(1, 8000, 16), ChunkClaiming("data", 0xFFFFFF00u, Bytes(10, 1))}));
    WaveFile w;
    Open(w, "claim.wav", file);
    EXPECT_EQ(w.GetDataLength(), 0xFFFFFF00u);
    EXPECT_EQ(w.GetAvailableDataLength(), 10u);
    std::vector<char> buf(10);
    EXPECT_TRUE(w.ReadRaw(buf.data(), 10));

    WaveFile empty;
    Open(empty, "empty.wav", Wave(Cat({Fmt(1, 8000, 16), Chunk("data", Bytes())})));
    EXPECT_EQ(empty.GetNumSamples(), 0u);
    EXPECT_EQ(empty.GetAvailableDataLength(), 0u);
}

TEST_F(WaveFileReadTest, ReopeningClosesWhatWasOpen) {
    const std::string a =
        Write("a.wav", Wave(Cat({Fmt(1, 8000, 16), Chunk("data", Samples16({5}))})));
    const std::string b =
        Write("b.wav", Wave(Cat({Fmt(2, 44100, 16), Chunk("data", Samples16({6, 7}))})));
    const int before = OpenDescriptors();
    WaveFile w;
    EXPECT_TRUE(w.Close());
    ASSERT_TRUE(w.OpenRead(a.c_str()));
    EXPECT_EQ(OpenDescriptors(), before + 1);
    ASSERT_TRUE(w.OpenRead(b.c_str()));
    EXPECT_EQ(OpenDescriptors(), before + 1);
    EXPECT_EQ(w.GetNumChannels(), 2u);
    short s = 0;
    ASSERT_TRUE(w.ReadSample(s));
    EXPECT_EQ(s, 6);
    ASSERT_TRUE(w.OpenWrite(Path("c.wav").c_str()));
    EXPECT_EQ(OpenDescriptors(), before + 1);
    EXPECT_FALSE(w.ReadSample(s));  // open for writing only
    EXPECT_TRUE(w.Close());
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_TRUE(w.Close());
}

TEST_F(WaveFileReadTest, ExtraItemsThenSamplesAfterReset) {
    const Bytes file = Wave(Cat({Fmt(1, 8000, 16), Form("LIST", "INFO", Chunk("INAM", Text("abc"))),
                                 Chunk("data", Samples16({99, 98}))}));
    WaveFile w;
    std::string type, value;
    EXPECT_FALSE(w.GetFirstExtraItem(type, value));
    EXPECT_FALSE(w.GetNextExtraItem(type, value));
    Open(w, "items.wav", file);
    ASSERT_TRUE(w.GetFirstExtraItem(type, value));
    EXPECT_EQ(type, "Name");
    EXPECT_EQ(value, "abc");
    EXPECT_FALSE(w.GetNextExtraItem(type, value));
    ASSERT_TRUE(w.GetFirstExtraItem(type, value));  // starts over
    ASSERT_TRUE(w.ResetToStart());
    short s = 0;
    ASSERT_TRUE(w.ReadSample(s));
    EXPECT_EQ(s, 99);
}

TEST_F(WaveFileReadTest, CopyAppendsTheSourceData) {
    Bytes data(10000);
    for (size_t i = 0; i < data.size(); i++) {
        data[i] = static_cast<unsigned char>(i * 7 + i / 256);
    }
    WaveFile source;
    Open(source, "src.wav", Wave(Cat({Fmt(2, 32000, 16), Chunk("data", data)})));
    short skip = 0;
    ASSERT_TRUE(source.ReadSample(skip));  // the copy starts from the first sample anyway

    const std::string out = Path("copy.wav");
    WaveFile dest;
    EXPECT_FALSE(dest.CopyFrom(source));
    EXPECT_STREQ(dest.GetError(), "Copy to an unopened file");
    ASSERT_TRUE(dest.OpenWrite(out.c_str()));
    WaveFile closed;
    EXPECT_FALSE(dest.CopyFrom(closed));
    EXPECT_STREQ(dest.GetError(), "Copy from an unopened file");
    dest.CopyFormatFrom(source);
    ASSERT_TRUE(dest.CopyFrom(source)) << dest.GetError();
    EXPECT_EQ(dest.GetDataLength(), 10000u);
    ASSERT_TRUE(dest.Close());

    WaveFile back;
    Open(back, "copy-reopened", Read(out));
    EXPECT_TRUE(back.FormatMatches(source));
    std::vector<char> got(data.size());
    ASSERT_TRUE(back.ReadRaw(got.data(), got.size()));
    EXPECT_EQ(Bytes(got.begin(), got.end()), data);
}

TEST_F(WaveFileReadTest, CopyOfATruncatedSourceKeepsWhatArrived) {
    WaveFile source;
    Open(source, "cut.wav",
         Wave(Cat({Fmt(1, 8000, 8), ChunkClaiming("data", 10000, Bytes(5000, 3))})));
    const std::string out = Path("partial.wav");
    WaveFile dest;
    ASSERT_TRUE(dest.OpenWrite(out.c_str()));
    EXPECT_FALSE(dest.CopyFrom(source));
    EXPECT_STREQ(dest.GetError(), "Error reading samples from input file");
    EXPECT_EQ(dest.GetDataLength(), 4096u);
    ASSERT_TRUE(dest.Close());
    EXPECT_EQ(Read(out).size(), 44u + 4096u);
}

TEST_F(WaveFileReadTest, WrittenFilesReadBackIdentically) {
    struct Case {
        int rate;
        short bits, channels;
    };
    for (const Case& c :
         {Case{20000, 16, 1}, Case{44100, 16, 2}, Case{8000, 8, 1}, Case{11025, 8, 2}}) {
        const std::string path = FreshPath("round");
        std::vector<short> wide(2 * 300);
        std::vector<unsigned char> narrow(2 * 300);
        for (size_t i = 0; i < wide.size(); i++) {
            wide[i] = static_cast<short>(i * 2731 % 65536 - 32768);
            narrow[i] = static_cast<unsigned char>(i * 37);
        }
        WaveFile w;
        ASSERT_TRUE(w.OpenWrite(path.c_str()));
        w.SetupFormat(c.rate, c.bits, c.channels);
        ASSERT_TRUE(c.bits == 16 ? w.WriteSamples(wide.data(), 300)
                                 : w.WriteSamples(narrow.data(), 300));
        ASSERT_TRUE(w.Close());

        WaveFile r;
        ASSERT_TRUE(r.OpenRead(path.c_str()));
        EXPECT_TRUE(r.FormatMatches(w));
        EXPECT_EQ(r.GetNumSamples(), 300u);
        const size_t n = 300u * c.channels;
        if (c.bits == 16) {
            std::vector<short> got(n);
            ASSERT_TRUE(r.ReadSamples(got.data(), 300));
            EXPECT_EQ(got, std::vector<short>(wide.begin(), wide.begin() + n));
        } else {
            std::vector<unsigned char> got(n);
            ASSERT_TRUE(r.ReadSamples(got.data(), 300));
            EXPECT_EQ(got, std::vector<unsigned char>(narrow.begin(), narrow.begin() + n));
        }
    }
}

}  // namespace
