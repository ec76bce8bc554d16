// Cross-checks with sox: what WaveFile writes, sox reads the same way, and what sox writes
// (plain and extensible), WaveFile reads the same way.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "WavTestUtil.h"
#include "wav/WaveFile.h"

using namespace wavtest;

namespace {

class WaveFileSoxTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (std::system("sox --version >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "sox is not installed (scripts/install-deps installs it)";
        }
    }

    // Standard output of a shell command; fails the test when the command fails.
    static Bytes Run(const std::string& command) {
        Bytes out;
        FILE* p = popen(command.c_str(), "r");
        if (p == nullptr) {
            ADD_FAILURE() << "cannot run " << command;
            return out;
        }
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
            out.insert(out.end(), buf, buf + n);
        }
        EXPECT_EQ(pclose(p), 0) << command;
        return out;
    }

    static std::string Quote(const std::string& path) { return "'" + path + "'"; }

    // One value of `sox --i`, e.g. "-r" for the rate.
    static unsigned long Info(const std::string& option, const std::string& path) {
        const Bytes out = Run("sox --i " + option + " " + Quote(path));
        return std::strtoul(std::string(out.begin(), out.end()).c_str(), nullptr, 10);
    }

    // The sample data as sox decodes it, as raw little-endian bytes at the file's own depth.
    static Bytes RawSamples(const std::string& path, int bits) {
        const char* encoding = bits == 8 ? "unsigned-integer" : "signed-integer";
        return Run("sox " + Quote(path) + " -t raw -e " + encoding + " -b " + std::to_string(bits) +
                   " -L -");
    }
};

TEST_F(WaveFileSoxTest, SoxReadsWhatWaveFileWrites) {
    struct Case {
        int rate;
        short bits, channels;
    };
    for (const Case& c : {Case{20000, 16, 1}, Case{44100, 16, 2}, Case{8000, 8, 1}}) {
        const std::string path = FreshPath("ours");
        Bytes data(2 * 2 * 513);
        for (size_t i = 0; i < data.size(); i++) {
            data[i] = static_cast<unsigned char>(i * 91 + 17);
        }
        const unsigned long frames = 513;
        const size_t bytes = frames * c.channels * (c.bits / 8);
        {
            WaveFile w;
            ASSERT_TRUE(w.OpenWrite(path.c_str()));
            w.SetupFormat(c.rate, c.bits, c.channels);
            ASSERT_TRUE(w.WriteRaw(reinterpret_cast<char*>(data.data()), bytes));
            ASSERT_TRUE(w.Close());
        }
        EXPECT_EQ(Info("-r", path), static_cast<unsigned long>(c.rate));
        EXPECT_EQ(Info("-c", path), static_cast<unsigned long>(c.channels));
        EXPECT_EQ(Info("-b", path), static_cast<unsigned long>(c.bits));
        EXPECT_EQ(Info("-s", path), frames);
        EXPECT_EQ(RawSamples(path, c.bits), Bytes(data.begin(), data.begin() + bytes));
    }
}

TEST_F(WaveFileSoxTest, WaveFileReadsWhatSoxWrites) {
    struct Case {
        const char* options;
        uint16_t formatType;
    };
    // Three channels make sox write the extensible "fmt " chunk.
    for (const Case& c : {Case{"-r 16000 -b 16 -c 1", 1}, Case{"-r 22050 -b 16 -c 2", 1},
                          Case{"-r 8000 -b 16 -c 3", 0xFFFE}, Case{"-r 11025 -b 8 -c 1", 1}}) {
        const std::string path = FreshPath("theirs");
        Run(std::string("sox -n ") + c.options + " " + Quote(path) +
            " synth 0.05 sine 440 sine 1000 sine 3000");
        WaveFile w;
        ASSERT_TRUE(w.OpenRead(path.c_str())) << c.options << ": " << w.GetError();
        EXPECT_EQ(w.GetFormatType(), c.formatType) << c.options;
        EXPECT_EQ(w.GetSampleRate(), Info("-r", path)) << c.options;
        EXPECT_EQ(w.GetNumChannels(), Info("-c", path)) << c.options;
        EXPECT_EQ(w.GetBitsPerChannel(), Info("-b", path)) << c.options;
        EXPECT_EQ(w.GetNumSamples(), Info("-s", path)) << c.options;
        EXPECT_EQ(w.GetAvailableDataLength(), w.GetDataLength());
        Bytes got(w.GetDataLength());
        ASSERT_TRUE(w.ReadRaw(reinterpret_cast<char*>(got.data()), got.size()));
        EXPECT_EQ(got, RawSamples(path, w.GetBitsPerChannel())) << c.options;
    }
}

}  // namespace
