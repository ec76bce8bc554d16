// The library's reader (cihear::ReadWav) and file simulation (cihear::SimulateWav) against the
// program itself on the crafted files of the reader's fuzzing corpus: the same files taken, the
// same refusals with the same words, and the same output.
#include <cihear/cihear.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/RunProgram.h"
#include "app/RunTestUtil.h"

using namespace runtest;

namespace {

const std::string corpus = std::string(CIHEAR_SOURCE_DIR) + "/fuzz/corpus/read";

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(corpus)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The 16-bit values of output samples, as the program writes them.
std::vector<short> Pcm(const std::vector<double>& y) {
    std::vector<short> out;
    for (const double v : y) {
        out.push_back(cihear::ToPcm16(v));
    }
    return out;
}

class LibraryReaderTest : public wavtest::TempDirTest,
                          public testing::WithParamInterface<std::string> {};

TEST_P(LibraryReaderTest, ReadsAndSimulatesAsTheProgramDoes) {
    const std::string input = corpus + "/" + GetParam();
    const std::string output = Path("out.wav");
    const ProgramRun run = RunProgram({"-i", input, "-o", output});
    ASSERT_TRUE(run.status == 0 || run.status == 255) << run.err;
    const cihear::Result simulated = cihear::SimulateWav(input, cihear::Settings());
    const cihear::WavSamples read = cihear::ReadWav(input);
    if (run.status == 0) {
        ASSERT_TRUE(simulated.status.ok()) << simulated.status.message;
        const Bytes file = Read(output);
        EXPECT_EQ(file.size(), 44 + 2 * simulated.output.size());
        EXPECT_EQ(SamplesAfterHeader(file), Pcm(simulated.output));
        // What ReadWav gives simulates to the same output.
        ASSERT_TRUE(read.status.ok()) << read.status.message;
        const cihear::Result again = cihear::Simulate(read.samples.data(), read.samples.size(),
                                                      read.sampleRate, cihear::Settings());
        ASSERT_TRUE(again.status.ok()) << again.status.message;
        EXPECT_EQ(again.output, simulated.output);
        return;
    }
    EXPECT_EQ(run.err, "error: " + simulated.status.message + "\n");
    EXPECT_FALSE(simulated.status.ok());
    EXPECT_TRUE(simulated.output.empty());
    if (read.status.ok()) {
        // Only a file too short for its rate is read, and refused when simulated.
        EXPECT_EQ(simulated.status.message.rfind("cannot convert", 0), 0u);
        const cihear::Result again = cihear::Simulate(read.samples.data(), read.samples.size(),
                                                      read.sampleRate, cihear::Settings());
        EXPECT_EQ(again.status.message, simulated.status.message);
    } else {
        EXPECT_EQ(read.status.message, simulated.status.message);
        EXPECT_EQ(read.status.code, simulated.status.code);
        EXPECT_TRUE(read.samples.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, LibraryReaderTest, testing::ValuesIn(CorpusFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& ch : name) {
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

class LibraryReaderFileTest : public wavtest::TempDirTest {};

TEST_F(LibraryReaderFileTest, ReadGivesTheMonoSamplesTheStatusSaysWhatIsWrong) {
    const std::vector<short> stereo{100, 301, -1, -2, 32767, 32767, -32768, 5};
    const cihear::WavSamples read = cihear::ReadWav(Write("s.wav", Wav16(2, 22050, stereo)));
    ASSERT_TRUE(read.status.ok());
    EXPECT_EQ(read.sampleRate, 22050u);
    const std::vector<int16_t> interleaved(stereo.begin(), stereo.end());
    const std::vector<int16_t> mono = cihear::MixStereo16(interleaved.data(), 4);
    EXPECT_EQ(read.samples, cihear::FromPcm16(mono.data(), mono.size()));

    const struct {
        std::string path;
        cihear::Status::Code code;
        std::string message;
    } refused[] = {
        {Path("missing.wav"), cihear::Status::kCannotOpen, "could not open file"},
        {dir.string(), cihear::Status::kCannotOpen, "could not open file"},
        {corpus + "/float32.wav", cihear::Status::kUnsupportedEncoding,
         "could not read samples from file"},
        {corpus + "/pcm24.wav", cihear::Status::kUnsupportedEncoding,
         "could not read samples from file"},
        {corpus + "/align-mismatch.wav", cihear::Status::kBadInput,
         "could not read samples from file"},
        {Write("low.wav", Wav16(1, 1, std::vector<short>(16384, 7))), cihear::Status::kRateTooLow,
         "cannot convert 16384 samples at 1 Hz to 20000 Hz: the sample rate is too low for that "
         "many samples"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.path);
        const cihear::WavSamples r = cihear::ReadWav(c.path);
        EXPECT_EQ(r.status.code, c.code) << r.status.message;
        EXPECT_EQ(r.status.message, c.message);
        EXPECT_EQ(cihear::SimulateWav(c.path, cihear::Settings()).status.code, c.code);
    }
}

TEST_F(LibraryReaderFileTest, AFifoIsRefusedAtOnce) {
    const std::string fifo = Path("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // No writer ever opens it: a reader that waited for one would hang here.
    EXPECT_EQ(cihear::ReadWav(fifo).status.code, cihear::Status::kCannotOpen);
    EXPECT_EQ(cihear::SimulateWav(fifo, cihear::Settings()).status.message, "could not open file");
}

TEST_F(LibraryReaderFileTest, SimulatingAFileCanBeCancelled) {
    const std::string in = Write("in.wav", Wav16(1, 44100, Tone(44100, 200000)));
    for (const int after : {0, 2, 6}) {
        int asked = 0;
        cihear::Options o;
        o.cancelled = [&] { return ++asked > after; };
        const cihear::Result r = cihear::SimulateWav(in, cihear::Settings(), o);
        EXPECT_EQ(r.status.code, cihear::Status::kCancelled) << after;
        EXPECT_TRUE(r.output.empty());
    }
}

}  // namespace
