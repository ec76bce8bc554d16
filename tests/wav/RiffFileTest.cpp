#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstring>

#include "WavTestUtil.h"
#include "wav/RiffFile.h"

using namespace wavtest;

namespace {

class RiffFileTest : public TempDirTest {
protected:
    // Walks all remaining items, with a bound so that a walk that never ends fails the test.
    std::vector<std::pair<std::string, std::string>> AllItems(RiffFile& f) {
        std::vector<std::pair<std::string, std::string>> items;
        std::string type, value;
        while (items.size() < 100 && f.getNextExtraItem(type, value)) {
            items.emplace_back(type, value);
        }
        return items;
    }
};

TEST_F(RiffFileTest, OddChunkIsFollowedByItsPadByte) {
    // "odd " at 12 with 3 content bytes ends at 23; its pad byte puts the next header at 24.
    RiffFile f(
        Write("pad.wav", Wave(Cat({Chunk("odd ", Text("xyz", false)), Chunk("next", LE32(7))})))
            .c_str());
    ASSERT_NE(f.filep(), nullptr);
    ASSERT_TRUE(f.push());
    EXPECT_STREQ(f.chunkName(), "odd ");
    EXPECT_EQ(f.chunkSize(), 3u);
    EXPECT_EQ(ftello(f.filep()), 20);
    ASSERT_TRUE(f.pop());
    EXPECT_EQ(ftello(f.filep()), 24);
    ASSERT_TRUE(f.push());
    EXPECT_STREQ(f.chunkName(), "next");
    ASSERT_TRUE(f.pop());
    EXPECT_FALSE(f.push());  // nothing after "next"
}

TEST_F(RiffFileTest, SizesAndTypesOfFormAndPlainChunk) {
    Bytes content = Cat({Fmt(1, 20000, 16), Chunk("data", Bytes(964, 0))});
    Bytes file = Cat({Id("RIFF"), LE32(1000), Id("WAVE"), content});
    ASSERT_EQ(file.size(), 1008u);
    RiffFile f(Write("sizes.wav", file).c_str());
    ASSERT_NE(f.filep(), nullptr);
    EXPECT_STREQ(f.chunkName(), "RIFF");
    EXPECT_EQ(f.chunkSize(), 996u);
    EXPECT_STREQ(f.subType(), "WAVE");
    EXPECT_EQ(ftello(f.filep()), 12);
    ASSERT_TRUE(f.push("fmt "));
    EXPECT_EQ(f.chunkSize(), 16u);
    EXPECT_EQ(f.subType(), nullptr);
    ASSERT_TRUE(f.pop());
    ASSERT_TRUE(f.push("data"));
    EXPECT_EQ(f.chunkSize(), 964u);
}

TEST_F(RiffFileTest, NamedPushSearchesFromTheFirstSubChunkWherever) {
    Bytes info = Form("LIST", "INFO", Chunk("INAM", Text("n")));
    RiffFile f(Write("order.wav", Wave(Cat({Fmt(1, 8000, 16), info, Chunk("data", LE32(5)),
                                            Chunk("data", LE32(6))})))
                   .c_str());
    ASSERT_NE(f.filep(), nullptr);
    const off_t firstData = 12 + 24 + static_cast<off_t>(info.size());
    for (off_t from : {off_t(12), off_t(15), off_t(40), firstData + 4, off_t(1000)}) {
        ASSERT_EQ(fseeko(f.filep(), from, SEEK_SET), 0);
        ASSERT_TRUE(f.push("data")) << "from " << from;
        EXPECT_EQ(ftello(f.filep()), firstData + 8) << "from " << from;
        ASSERT_TRUE(f.pop());
    }
    // The list is entered like any chunk and can be searched in turn.
    ASSERT_TRUE(f.push("LIST"));
    EXPECT_STREQ(f.subType(), "INFO");
    EXPECT_TRUE(f.push("INAM"));
}

TEST_F(RiffFileTest, FailedPushLeavesStackAndRestartsAtContent) {
    RiffFile f(
        Write("nodata.wav", Wave(Cat({Fmt(1, 8000, 16), Chunk("junk", Bytes(5, 1))}))).c_str());
    ASSERT_NE(f.filep(), nullptr);
    EXPECT_FALSE(f.push("data"));
    EXPECT_STREQ(f.chunkName(), "RIFF");
    EXPECT_EQ(ftello(f.filep()), 12);
    EXPECT_FALSE(std::feof(f.filep()));
    // Inside a chunk the failure position is that chunk's content.
    ASSERT_TRUE(f.push("fmt "));
    EXPECT_FALSE(f.push("data"));
    EXPECT_STREQ(f.chunkName(), "fmt ");
    EXPECT_EQ(ftello(f.filep()), 20);
}

TEST_F(RiffFileTest, PopNeverLeavesTheFormAndThenDoesNotMove) {
    RiffFile f(Write("pop.wav", Wave(Fmt(1, 8000, 16))).c_str());
    ASSERT_NE(f.filep(), nullptr);
    for (off_t at : {off_t(12), off_t(17)}) {
        ASSERT_EQ(fseeko(f.filep(), at, SEEK_SET), 0);
        EXPECT_FALSE(f.pop());
        EXPECT_EQ(ftello(f.filep()), at);
        EXPECT_STREQ(f.chunkName(), "RIFF");
    }
}

TEST_F(RiffFileTest, RewindReturnsToTheFormFromAnyDepth) {
    RiffFile f(Write("rewind.wav", Wave(Form("LIST", "INFO", Chunk("INAM", Text("abc"))))).c_str());
    ASSERT_TRUE(f.push("LIST"));
    ASSERT_TRUE(f.push("INAM"));
    ASSERT_TRUE(f.rewind());
    EXPECT_STREQ(f.chunkName(), "RIFF");
    EXPECT_EQ(ftello(f.filep()), 12);
    EXPECT_FALSE(f.pop());
}

TEST_F(RiffFileTest, FilesThatAreNotRiffDoNotOpen) {
    const Bytes good = Wave(Fmt(1, 8000, 16));
    const Bytes cases[] = {
        Bytes(good.begin(), good.begin() + 11),                  // shorter than the form header
        Cat({Id("RIFX"), Bytes(good.begin() + 4, good.end())}),  // another identifier
        Text("plain text, not a sound file\n", false),
        Bytes(),
    };
    int n = 0;
    for (const Bytes& bytes : cases) {
        RiffFile f(Write("bad" + std::to_string(n++), bytes).c_str());
        EXPECT_EQ(f.filep(), nullptr) << "case " << n;
        EXPECT_EQ(f.chunkName(), nullptr);
        EXPECT_EQ(f.chunkSize(), 0u);
        EXPECT_EQ(f.subType(), nullptr);
    }
    RiffFile twelve(Write("twelve", Bytes(good.begin(), good.begin() + 12)).c_str());
    EXPECT_NE(twelve.filep(), nullptr);
    RiffFile missing(Path("does-not-exist").c_str());
    EXPECT_EQ(missing.filep(), nullptr);
    RiffFile directory(dir.c_str());
    EXPECT_EQ(directory.filep(), nullptr);
}

TEST_F(RiffFileTest, InfoWalkYieldsKnownItemsInOrderAndRestarts) {
    Bytes info = Form("LIST", "INFO",
                      Cat({Chunk("INAM", Text("abc")), Chunk("IZZZ", Text("no")),
                           Chunk("IART", Text("Someone"))}));
    RiffFile f(
        Write("info.wav", Wave(Cat({Fmt(1, 8000, 16), info, Chunk("data", LE32(0))}))).c_str());
    ASSERT_NE(f.filep(), nullptr);
    using Items = std::vector<std::pair<std::string, std::string>>;
    const Items expected = {{"Name", "abc"}, {"Artist", "Someone"}};
    EXPECT_EQ(AllItems(f), expected);
    EXPECT_EQ(ftello(f.filep()), 12);
    EXPECT_STREQ(f.chunkName(), "RIFF");
    EXPECT_EQ(AllItems(f), expected);  // after false the walk starts over
}

TEST_F(RiffFileTest, UnknownItemLeavesTypeAndValueAlone) {
    RiffFile f(Write("unknown.wav", Wave(Chunk("IZZZ", Text("no")))).c_str());
    ASSERT_TRUE(f.push());
    std::string type = "t", value = "v";
    EXPECT_FALSE(f.readExtraItem(type, value));
    EXPECT_EQ(type, "t");
    EXPECT_EQ(value, "v");
    EXPECT_STREQ(f.chunkName(), "RIFF");
    EXPECT_EQ(ftello(f.filep()), 24);
}

TEST_F(RiffFileTest, DispSkipsItsFormatWordAndOtherListsAreNotEntered) {
    Bytes other = Form("LIST", "adtl", Chunk("INAM", Text("hidden")));
    Bytes nested = Form("LIST", "INFO",
                        Cat({Form("LIST", "INFO", Chunk("INAM", Text("deep"))),
                             Chunk("DISP", Cat({LE32(1), Text("inner")}))}));
    RiffFile f(Write("disp.wav",
                     Wave(Cat({Chunk("DISP", Cat({LE32(1), Text("Shown title")})), other, nested})))
                   .c_str());
    using Items = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(AllItems(f), (Items{{"Display name", "Shown title"}, {"Display name", "inner"}}));
}

TEST_F(RiffFileTest, UnterminatedTextRunsOnAndTheWalkContinuesAfterItsChunk) {
    Bytes info =
        Form("LIST", "INFO", Cat({Chunk("INAM", Text("abcd", false)), Chunk("IART", Text("xy"))}));
    RiffFile f(Write("noterm.wav", Wave(info)).c_str());
    using Items = std::vector<std::pair<std::string, std::string>>;
    const std::string runOn = std::string("abcdIART") + '\x03';  // up to the size's zero byte
    EXPECT_EQ(AllItems(f), (Items{{"Name", runOn}, {"Artist", "xy"}}));

    // At the very end of the file the text stops at the end of the file.
    RiffFile g(
        Write("tail.wav", Wave(Form("LIST", "INFO", Chunk("ICMT", Text("tail", false))))).c_str());
    EXPECT_EQ(AllItems(g), (Items{{"Comments", "tail"}}));
}

TEST_F(RiffFileTest, EveryTextChunkHasItsDescription) {
    const std::pair<const char*, const char*> table[] = {
        {"DISP", "Display name"},  {"IARL", "Archival location"}, {"IART", "Artist"},
        {"ICMS", "Commissioned"},  {"ICMT", "Comments"},          {"ICOP", "Copyright"},
        {"ICRD", "Creation date"}, {"ICRP", "Cropped"},           {"IDIM", "Dimensions"},
        {"IDPI", "Dots Per Inch"}, {"IENG", "Engineer"},          {"IGNR", "Genre"},
        {"IKEY", "Keywords"},      {"ILGT", "Lightness"},         {"IMED", "Medium"},
        {"INAM", "Name"},          {"IPLT", "Palette Setting"},   {"IPRD", "Product"},
        {"ISBJ", "Subject"},       {"ISFT", "Software"},          {"ISHP", "Sharpness"},
        {"ISRC", "Source"},        {"ISRF", "Source Form"},       {"ITCH", "Technician"},
    };
    Bytes items;
    std::vector<std::pair<std::string, std::string>> expected;
    for (const auto& [id, description] : table) {
        const std::string text = std::string("text of ") + id;
        // Inside an INFO list a "DISP" chunk is an item too, with its format word.
        const Bytes content =
            std::strcmp(id, "DISP") == 0 ? Cat({LE32(8), Text(text)}) : Text(text);
        items = Cat({items, Chunk(id, content)});
        expected.emplace_back(description, text);
    }
    RiffFile f(Write("table.wav", Wave(Form("LIST", "INFO", items))).c_str());
    EXPECT_EQ(AllItems(f), expected);
}

}  // namespace
