// Damaged and hostile RIFF files: the walk must move forward, use offsets that do not wrap at
// 32 bits, stop at the end of the file and never loop.

#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <random>

#include "WavTestUtil.h"
#include "wav/RiffFile.h"
#include "wav/WaveFile.h"

using namespace wavtest;

namespace {

class RiffFileHostileTest : public TempDirTest {
protected:
    // Number of items before the walk says false; fails the test if it does not end.
    int CountItems(RiffFile& f) {
        std::string type, value;
        int n = 0;
        while (f.getNextExtraItem(type, value)) {
            if (++n > 1000) {
                ADD_FAILURE() << "the walk does not end";
                break;
            }
        }
        return n;
    }
};

TEST_F(RiffFileHostileTest, ChunkClaimingNearlyFourGigabytes) {
    const Bytes file =
        Wave(Cat({ChunkClaiming("junk", 0xFFFFFFFFu, LE32(0)), Chunk("data", LE32(1))}));
    RiffFile f(Write("huge.wav", file).c_str());
    ASSERT_NE(f.filep(), nullptr);
    // "data" lies inside the claimed content: it is not a sibling.
    EXPECT_FALSE(f.push("data"));
    EXPECT_EQ(ftello(f.filep()), 12);
    ASSERT_TRUE(f.push());
    EXPECT_EQ(f.chunkSize(), 0xFFFFFFFFu);
    ASSERT_TRUE(f.pop());
    // 20 + 0xFFFFFFFF is odd, so the pad byte puts the end at 2^32 + 20: no wrap to 20.
    EXPECT_EQ(ftello(f.filep()), (off_t(1) << 32) + 20);
    EXPECT_FALSE(f.push());
    EXPECT_EQ(ftello(f.filep()), 12);
    EXPECT_EQ(CountItems(f), 0);
}

TEST_F(RiffFileHostileTest, FormLargerThanTheFileIsWalkedToTheEnd) {
    const Bytes content =
        Cat({Fmt(1, 8000, 16), Chunk("DISP", Cat({LE32(1), Text("t")})), Chunk("data", LE32(9))});
    RiffFile f(
        Write("long.wav", Cat({Id("RIFF"), LE32(0xFFFFFFF0u), Id("WAVE"), content})).c_str());
    ASSERT_NE(f.filep(), nullptr);
    EXPECT_EQ(f.chunkSize(), 0xFFFFFFECu);
    EXPECT_TRUE(f.push("data"));
    EXPECT_TRUE(f.pop());
    EXPECT_FALSE(f.push("none"));
    EXPECT_EQ(ftello(f.filep()), 12);
    EXPECT_EQ(CountItems(f), 1);
}

TEST_F(RiffFileHostileTest, ListOrFormTooSmallForItsTypeHoldsNothing) {
    RiffFile f(Write("tiny.wav", Cat({Id("RIFF"), LE32(2), Id("WAVE"), Fmt(1, 8000, 16)})).c_str());
    ASSERT_NE(f.filep(), nullptr);
    EXPECT_EQ(f.chunkSize(), 0u);
    EXPECT_FALSE(f.push());
    EXPECT_FALSE(f.push("fmt "));

    const Bytes list = Cat({Id("LIST"), LE32(0), Id("INFO")});
    RiffFile g(Write("tinylist.wav", Wave(Cat({list, Chunk("INAM", Text("x"))}))).c_str());
    ASSERT_TRUE(g.push());
    EXPECT_EQ(g.chunkSize(), 0u);
    EXPECT_FALSE(g.push());
    ASSERT_TRUE(g.pop());
    // The item after the empty list is a sibling of the list, not one of its items.
    EXPECT_EQ(CountItems(g), 0);
}

TEST_F(RiffFileHostileTest, ItemRunningPastItsListEndsTheList) {
    // The list holds the INAM header and 4 bytes, but INAM claims 100 bytes.
    const Bytes list =
        Cat({Id("LIST"), LE32(16), Id("INFO"), ChunkClaiming("INAM", 100, Text("abc"))});
    const Bytes disp = Chunk("DISP", Cat({LE32(0), Text("t")}));
    RiffFile f(Write("past.wav", Wave(Cat({list, disp}))).c_str());
    std::string type, value;
    ASSERT_TRUE(f.getNextExtraItem(type, value));
    EXPECT_EQ(value, "abc");
    ASSERT_TRUE(f.getNextExtraItem(type, value));
    EXPECT_EQ(type, "Display name");
    EXPECT_EQ(value, "t");
    EXPECT_FALSE(f.getNextExtraItem(type, value));
}

TEST_F(RiffFileHostileTest, TruncatedHeaderInsideTheFormEndsTheWalk) {
    Bytes file = Wave(Cat({Fmt(1, 8000, 16), Id("LIS")}));
    RiffFile f(Write("cut.wav", file).c_str());
    ASSERT_NE(f.filep(), nullptr);
    EXPECT_FALSE(f.push("LIST"));
    EXPECT_FALSE(std::feof(f.filep()));
    EXPECT_EQ(CountItems(f), 0);
}

// Random chunk trees with wrong sizes everywhere, so that every branch of the walk meets
// damage: nothing may hang, and the data the reader calls available must be there to read.
TEST_F(RiffFileHostileTest, RandomDamagedFilesAreWalkedToAnEnd) {
    std::mt19937 random(12345);
    const char* ids[] = {"fmt ", "data", "DISP", "INAM", "IART", "LIST", "junk"};
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    // A claimed size: mostly right, sometimes a little off, sometimes absurd.
    auto claim = [&](uint32_t real) {
        switch (pick(6)) {
            case 0:
                return real + pick(9);
            case 1:
                return real > 4 ? real - pick(5) : 0;
            case 2:
                return 0xFFFFFFFFu - pick(16);
            default:
                return real;
        }
    };
    for (int n = 0; n < 300; n++) {
        Bytes content;
        const uint32_t chunks = 1 + pick(6);
        for (uint32_t c = 0; c < chunks; c++) {
            const char* id = ids[pick(7)];
            Bytes inner(pick(24));
            for (auto& b : inner) {
                b = static_cast<unsigned char>(pick(4) == 0 ? 0 : 'a' + pick(26));
            }
            if (std::strcmp(id, "fmt ") == 0 && pick(2) == 0) {
                inner = Cat({FmtContent(1, 1 + pick(2), 8000, 16), inner});
            }
            if (std::strcmp(id, "LIST") == 0) {
                inner = Cat({Id("INFO"), ChunkClaiming("INAM", claim(3), Text("ab")), inner});
            }
            content = Cat({content, ChunkClaiming(id, claim(uint32_t(inner.size())), inner)});
        }
        const Bytes file =
            Cat({Id("RIFF"), LE32(claim(uint32_t(content.size() + 4))), Id("WAVE"), content});
        const std::string path = Write("random" + std::to_string(n) + ".wav", file);

        RiffFile f(path.c_str());
        ASSERT_NE(f.filep(), nullptr);
        CountItems(f);
        CountItems(f);
        f.push("data");
        EXPECT_TRUE(f.rewind());

        WaveFile w;
        if (w.OpenRead(path.c_str())) {
            EXPECT_LE(w.GetAvailableDataLength(), file.size());
            std::vector<char> data(w.GetAvailableDataLength());
            EXPECT_TRUE(w.ReadRaw(data.data(), data.size())) << "file " << n;
            std::string type, value;
            for (int i = 0; i < 1000 && w.GetNextExtraItem(type, value); i++) {
            }
            EXPECT_TRUE(w.ResetToStart()) << "file " << n;
        }
    }
}

// A sparse file of a little over 4 GiB: a data chunk claiming 0xFFFFFFF0 bytes and the "fmt "
// chunk after it, beyond offset 2^32.
TEST_F(RiffFileHostileTest, FilesUpToFourGigabytesAreWalked) {
    const off_t fmtAt = 20 + off_t(0xFFFFFFF0u);
    struct statvfs fs;
    if (statvfs(dir.c_str(), &fs) != 0 || fs.f_bavail * fs.f_frsize < (5ULL << 30)) {
        GTEST_SKIP() << "not enough room in case the filesystem cannot hold sparse files";
    }
    const std::string path = Path("big.wav");
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    const Bytes head =
        Cat({Id("RIFF"), LE32(0xFFFFFFFFu), Id("WAVE"), Id("data"), LE32(0xFFFFFFF0u)});
    const Bytes fmt = Fmt(2, 44100, 16);
    bool written = std::fwrite(head.data(), 1, head.size(), out) == head.size() &&
                   std::fflush(out) == 0 && ftruncate(fileno(out), fmtAt) == 0 &&
                   fseeko(out, fmtAt, SEEK_SET) == 0 &&
                   std::fwrite(fmt.data(), 1, fmt.size(), out) == fmt.size();
    written = std::fclose(out) == 0 && written;
    if (!written) {
        GTEST_SKIP() << "cannot make a sparse file here";
    }

    RiffFile f(path.c_str());
    ASSERT_NE(f.filep(), nullptr);
    ASSERT_TRUE(f.push("fmt "));
    EXPECT_EQ(ftello(f.filep()), fmtAt + 8);
    EXPECT_EQ(f.chunkSize(), 16u);

    WaveFile w;
    ASSERT_TRUE(w.OpenRead(path.c_str())) << w.GetError();
    EXPECT_EQ(w.GetSampleRate(), 44100u);
    EXPECT_EQ(w.GetNumChannels(), 2u);
    EXPECT_EQ(w.GetDataLength(), 0xFFFFFFF0u);
    EXPECT_EQ(w.GetAvailableDataLength(), 0xFFFFFFF0u);
    EXPECT_EQ(ftello(w.GetFile()), 20);
}

}  // namespace
