// The whole program on small generated WAV files: what it prints, its exit status, and the file
// it leaves (or does not leave) behind.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/RunProgram.h"
#include "app/RunTestUtil.h"

using namespace runtest;

namespace {

const std::string loading = "Starting... Loading input signal... ";
const std::string untilWriting = loading + "Done\nStarting simulation... Done\nWriting to file... ";
const std::string complete = untilWriting + "Done\n";

class RunTest : public wavtest::TempDirTest {
protected:
    ProgramRun Run(const std::vector<std::string>& args) { return RunProgram(args, dir.string()); }

    void Input(const std::string& name, uint32_t rate, uint32_t frames, uint16_t channels = 1) {
        Write(name, Wav16(channels, rate, Tone(rate, frames, channels)));
    }

    // The samples of a finished output file, after checking its header.
    std::vector<short> Output(const std::string& name, uint32_t expectedLength) {
        const Bytes file = Read(Path(name));
        const Bytes header = OutputHeader(expectedLength);
        EXPECT_EQ(file.size(), header.size() + 2 * size_t(expectedLength));
        EXPECT_TRUE(file.size() >= header.size() &&
                    std::equal(header.begin(), header.end(), file.begin()))
            << "header of " << name;
        return SamplesAfterHeader(file);
    }

    bool Exists(const std::string& name) const { return access(Path(name).c_str(), F_OK) == 0; }
};

TEST_F(RunTest, SuccessfulRunWritesA16BitMono20000HzFile) {
    Input("in.wav", 20000, 5000);
    const ProgramRun run = Run({"-i", "in.wav"});  // default output name
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, complete);
    EXPECT_EQ(run.err, "");

    const std::vector<short> out = Output("output.wav", 5000);
    // Peak-normalised to 0.9999: 32764.72 is stored as 32765, or -32764 when negative.
    const int peak = PeakMagnitude(out);
    EXPECT_TRUE(peak == 32764 || peak == 32765) << peak;
    // The output gets the permissions a newly created file normally gets, and nothing but the
    // input and the output is left in the directory.
    struct stat st;
    ASSERT_EQ(stat(Path("output.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~CurrentUmask());
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"in.wav", "output.wav"}));
}

TEST_F(RunTest, OutputLengthFollowsTheRateConversion) {
    const struct {
        uint32_t rate, frames;
        uint16_t channels;
        uint32_t expected;
    } cases[] = {
        {20000, 3001, 1, 3001},
        {20000, 3001, 2, 3001},  // one output sample per stereo frame
        // Lowering the rate truncates L * (20000 / R).
        {44100, 12345, 1, uint32_t(12345 * (20000.0 / 44100))},
        {22050, 5001, 1, uint32_t(5001 * (20000.0 / 22050))},
        {44100, 8821, 2, uint32_t(8821 * (20000.0 / 44100))},
        // Raising it rounds (20000 / R) * L up.
        {16000, 4001, 1, uint32_t(std::ceil((20000.0 / 16000) * 4001))},
        {8000, 2001, 1, uint32_t(std::ceil((20000.0 / 8000) * 2001))},
        {10000, 2500, 1, 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channel(s)");
        const std::string out = "out" + std::to_string(c.rate) + "_" + std::to_string(c.channels);
        Input("in.wav", c.rate, c.frames, c.channels);
        const ProgramRun run = Run({"-i", "in.wav", "-o", out});
        ASSERT_EQ(run.status, 0) << run.err;
        const int peak = PeakMagnitude(Output(out, c.expected));
        EXPECT_TRUE(peak == 32764 || peak == 32765) << peak;
    }
}

TEST_F(RunTest, SilenceInSilenceOut) {
    Write("in.wav", Wav16(1, 20000, std::vector<short>(4000, 0)));
    ASSERT_EQ(Run({"-i", "in.wav", "-o", "out.wav"}).status, 0);
    EXPECT_EQ(Output("out.wav", 4000), std::vector<short>(4000, 0));
}

TEST_F(RunTest, SameCommandSameBytes) {
    Input("in.wav", 22050, 6000);
    for (const char* out : {"a.wav", "b.wav", "refused_rate.wav", "other_rate.wav"}) {
        std::vector<std::string> args{"-i", "in.wav", "-o", out};
        if (std::string(out) == "refused_rate.wav") {
            args.insert(args.end(), {"--rate", "20000"});  // above the bound: default kept
        } else if (std::string(out) == "other_rate.wav") {
            args.insert(args.end(), {"--rate", "900"});
        }
        ASSERT_EQ(Run(args).status, 0) << out;
    }
    const Bytes a = Read(Path("a.wav"));
    EXPECT_EQ(Read(Path("b.wav")), a);
    EXPECT_EQ(Read(Path("refused_rate.wav")), a);
    // The comparisons above mean something only if the options reach the simulation.
    EXPECT_NE(Read(Path("other_rate.wav")), a);
}

TEST_F(RunTest, MissingInputOrOutputDirectoryFailsWithoutLeavingAFile) {
    {
        SCOPED_TRACE("missing input");
        const ProgramRun run = Run({"-i", "missing.wav", "-o", "out.wav"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, loading);
        EXPECT_EQ(run.err, "error: could not open file\n");
    }
    {
        SCOPED_TRACE("output in a missing directory");
        Input("in.wav", 20000, 2000);
        const ProgramRun run = Run({"-i", "in.wav", "-o", "nowhere/out.wav"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, untilWriting);
        EXPECT_EQ(run.err, "error: could not open file to write\n");
    }
    {
        SCOPED_TRACE("output name longer than the file system takes");
        const ProgramRun run = Run({"-i", "in.wav", "-o", std::string(256, 'o')});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, untilWriting);
        EXPECT_EQ(run.err, "error: could not open file to write\n");
    }
    {
        SCOPED_TRACE("empty output name");
        const ProgramRun run = Run({"-i", "in.wav", "-o", ""});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.err, "error: could not open file to write\n");
    }
    EXPECT_EQ(Entries(dir), std::set<std::string>{"in.wav"});
}

TEST_F(RunTest, InputsItCannotHandleAreRefusedWithAReason) {
    using namespace wavtest;
    const auto pcm16 = [](uint16_t channels, uint32_t rate, const Bytes& data) {
        return Wave(Cat({Fmt(channels, rate, 16), Chunk("data", data)}));
    };
    const Bytes twoFrames = Samples16({100, -100, 200, -200});
    // A stereo 16-bit format whose frame size says one byte per frame.
    const Bytes badAlign = Wave(
        Cat({Chunk("fmt ", Cat({LE16(1), LE16(2), LE32(20000), LE32(20000), LE16(1), LE16(16)})),
             Chunk("data", twoFrames)}));
    // 1 Hz raised to 20000 Hz holds every sample 20000 times: 214749 samples need more than
    // 2^32 - 1.
    const Bytes tooLowRate = pcm16(1, 1, Samples16(std::vector<short>(214749, 1000)));
    const struct {
        const char* what;
        Bytes file;
        std::string err;
    } cases[] = {
        {"three channels", pcm16(3, 20000, Samples16({1, 2, 3})),
         "error: unsupported number of channels (3); only mono and stereo are supported\n"},
        {"no channels", pcm16(0, 20000, twoFrames),
         "error: unsupported number of channels (0); only mono and stereo are supported\n"},
        {"rate 0", pcm16(1, 0, twoFrames), "error: invalid sample rate (0 Hz)\n"},
        {"data longer than the file",
         Wave(Cat({Fmt(1, 20000, 16), ChunkClaiming("data", 1000000000, twoFrames)})),
         "error: file is truncated: the data chunk declares 1000000000 bytes but only 8 "
         "follow\n"},
        {"stereo data cut short",
         Wave(Cat({Fmt(2, 20000, 16), ChunkClaiming("data", 12, twoFrames)})),
         "error: file is truncated: the data chunk declares 12 bytes but only 8 follow\n"},
        {"8-bit mono", Wave(Cat({Fmt(1, 20000, 8), Chunk("data", Bytes(10, 128))})),
         "error: could not read samples from file\n"},
        {"8-bit stereo", Wave(Cat({Fmt(2, 20000, 8), Chunk("data", Bytes(10, 128))})),
         "error: could not read samples from file\n"},
        {"frame size not that of the format", badAlign,
         "error: could not read samples from file\n"},
        {"rate too low to convert", tooLowRate,
         "error: cannot convert 214749 samples at 1 Hz to 20000 Hz: the sample rate is too low "
         "for that many samples\n"},
        // 32 KiB at 1 Hz would be held as 328 million samples: refused before any is read.
        {"rate too low for a small file", pcm16(1, 1, Samples16(std::vector<short>(16384, 7))),
         "error: cannot convert 16384 samples at 1 Hz to 20000 Hz: the sample rate is too low "
         "for that many samples\n"},
        {"stereo at a rate too low", pcm16(2, 100, Samples16(std::vector<short>(2 * 83887, 7))),
         "error: cannot convert 83887 samples at 100 Hz to 20000 Hz: the sample rate is too "
         "low for that many samples\n"},
        {"not a WAV file", Text("just text"), "error: could not open file\n"},
        // 2 frames at 4294967295 Hz last less than one output sample: an empty output file.
        {"rate too high for the file's length", pcm16(1, 4294967295u, twoFrames),
         "error: cannot convert 4 samples at 4294967295 Hz to 20000 Hz: the sample rate is too "
         "high for that few samples (they last less than one sample at 20000 Hz)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Write("in.wav", c.file);
        const ProgramRun run = Run({"-i", "in.wav", "-o", "out.wav"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, loading);
        EXPECT_EQ(run.err, c.err);
        EXPECT_FALSE(Exists("out.wav"));
    }
}

TEST_F(RunTest, AFailedRunLeavesAnExistingOutputAsItWas) {
    const Bytes previous = wavtest::Text("an earlier result");
    Write("out.wav", previous);
    ASSERT_EQ(chmod(Path("out.wav").c_str(), 0640), 0);
    Input("in.wav", 20000, 20000);
    {
        SCOPED_TRACE("input missing");
        EXPECT_EQ(Run({"-i", "missing.wav", "-o", "out.wav"}).status, 255);
        EXPECT_EQ(Read(Path("out.wav")), previous);
    }
    {
        // The 40044-byte result cannot be written under a 16 KiB file size limit. The program
        // starts with SIGXFSZ at its default disposition, as from a shell, so the limit would
        // kill it if it did not ignore that signal while writing.
        SCOPED_TRACE("write fails");
        ProgramRun run;
        {
            ScopedLimit limit(RLIMIT_FSIZE, 16384);
            ASSERT_TRUE(limit.ok());
            run = Run({"-i", "in.wav", "-o", "out.wav"});
        }
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, untilWriting);
        EXPECT_EQ(run.err, "error: could not write samples to file\n");
        EXPECT_EQ(Read(Path("out.wav")), previous);
        EXPECT_EQ(Entries(dir), (std::set<std::string>{"in.wav", "out.wav"}));
    }
    {
        // A successful run replaces the file but keeps its permissions, as rewriting it would.
        SCOPED_TRACE("run succeeds");
        EXPECT_EQ(Run({"-i", "in.wav", "-o", "out.wav"}).status, 0);
        Output("out.wav", 20000);
        struct stat st;
        ASSERT_EQ(stat(Path("out.wav").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(Entries(dir), (std::set<std::string>{"in.wav", "out.wav"}));
    }
}

TEST_F(RunTest, OutputThroughALinkOrToADevice) {
    Input("in.wav", 20000, 1000);
    Write("target.wav", wavtest::Text("old"));
    ASSERT_EQ(symlink("target.wav", Path("link.wav").c_str()), 0);
    EXPECT_EQ(Run({"-i", "in.wav", "-o", "link.wav"}).status, 0);
    struct stat st;
    ASSERT_EQ(lstat(Path("link.wav").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    Output("target.wav", 1000);
    // A link to a file not made yet: the file is created where the link points.
    ASSERT_EQ(symlink("made.wav", Path("dangling.wav").c_str()), 0);
    EXPECT_EQ(Run({"-i", "in.wav", "-o", "dangling.wav"}).status, 0);
    Output("made.wav", 1000);

    // A device is written to, never replaced.
    const ProgramRun run = Run({"-i", "in.wav", "-o", "/dev/null"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"in.wav", "link.wav", "target.wav",
                                                   "dangling.wav", "made.wav"}));
}

// A sanitizer's runtime needs far more address space than the limit below allows.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CIHEAR_ADDRESS_SPACE_LIMIT_WORKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define CIHEAR_ADDRESS_SPACE_LIMIT_WORKS 0
#endif
#endif
#ifndef CIHEAR_ADDRESS_SPACE_LIMIT_WORKS
#define CIHEAR_ADDRESS_SPACE_LIMIT_WORKS 1
#endif

TEST_F(RunTest, RunningOutOfMemoryIsAnError) {
    if (!CIHEAR_ADDRESS_SPACE_LIMIT_WORKS) {
        GTEST_SKIP() << "address space limit not usable under a sanitizer";
    }
    // 1000000 samples at 1000 Hz, held 20 times: 20 million samples at 20000 Hz, which load
    // within the limit but whose simulation at 10000 pulses/s on 50 channels keeps 50 levels
    // for each of 10 million frames, 4 GB.
    Write("in.wav", Wav16(1, 1000, std::vector<short>(1000000, 1000)));
    ProgramRun run;
    {
        ScopedLimit limit(RLIMIT_AS, rlim_t(1) << 30);
        ASSERT_TRUE(limit.ok());
        run = Run({"-i", "in.wav", "-o", "out.wav", "-r", "10000", "--n_chan_ci", "50",
                   "--n_inserted_ch", "50"});
    }
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, loading + "Done\nStarting simulation... ");
    EXPECT_EQ(run.err, "error: not enough memory\n");
    EXPECT_FALSE(Exists("out.wav"));
}

}  // namespace
