// cihear-live run as a user runs it, against a JACK dummy server of its own: the recordings of
// a run equal the offline stream bit for bit, the delay through the program is what it reports,
// and bad input ends at once with one line and status 1.
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <sstream>

#include "JackServer.h"
#include "app/cli.h"
#include "io/FloatWave.h"
#include "signal/Signal.h"

namespace {

const std::string kSpeech = std::string(CIHEAR_SOURCE_DIR) + "/examples/speech.wav";

std::string Temp(const std::string& name) {
    return testing::TempDir() + "cihear_live_" + std::to_string(getpid()) + "_" + name;
}

std::vector<float> ReadRecording(const std::string& name) {
    std::vector<float> x;
    uint32_t rate = 0;
    std::string why;
    EXPECT_TRUE(ReadFloatWave(name, x, rate, why)) << why;
    EXPECT_EQ(rate, cihear::kOutputRate);
    unlink(name.c_str());
    return x;
}

// The last status line the program printed.
std::string LastStatus(const std::string& out) {
    const size_t end = out.find_last_not_of('\n');
    const size_t start = out.rfind('\n', end);
    return out.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

class LiveJackTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::string(JACKD).empty()) {
            GTEST_SKIP() << "jackd is not installed (scripts/install-deps test)";
        }
        jack_set_error_function([](const char*) {});
        jack_set_info_function([](const char*) {});
        server = std::make_unique<JackServer>();
        ASSERT_TRUE(server->Ready()) << "the JACK dummy server did not start";
    }
    std::unique_ptr<JackServer> server;
};

struct PlayCase {
    const char* name;
    std::vector<std::string> settings;
    double stopAfter;  // seconds until Ctrl-C (with --loop), or 0: the file ends the run
};

class PlayTest : public LiveJackTest, public testing::WithParamInterface<PlayCase> {};

// What went into the stream is the file (as the command line converts it), then silence; what
// came out equals Simulate with Options::live on it, sample for sample.
TEST_P(PlayTest, RecordingsEqualTheOfflineStream) {
    const PlayCase& c = GetParam();
    const std::string in = Temp("in.wav"), out = Temp("out.wav");
    std::vector<std::string> command = {CIHEAR_LIVE_EXE,  "--jack", "--play",   kSpeech,
                                        "--record-input", in,       "--record", out};
    if (c.stopAfter > 0) {
        command.push_back("--loop");
    }
    command.insert(command.end(), c.settings.begin(), c.settings.end());
    Program program(command);
    if (c.stopAfter > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(c.stopAfter));
        program.Signal(SIGINT);
    }
    const ProgramRun run = program.Finish(60);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(LastStatus(run.out).find(" 0 own"), std::string::npos) << run.out;

    const std::vector<float> input = ReadRecording(in), output = ReadRecording(out);
    ASSERT_EQ(input.size(), output.size());
    std::unique_ptr<Signal> file(read(kSpeech.c_str()));
    ASSERT_TRUE(file);
    const size_t length = file->GetLength();
    ASSERT_GT(input.size(), c.stopAfter > 0 ? size_t(c.stopAfter * 0.5 * 20000) : length);
    size_t wrongIn = 0;
    for (size_t i = 0; i < input.size(); i++) {
        const float expected = c.stopAfter > 0 || i < length
                                   ? static_cast<float>(file->GetSamples()[i % length])
                                   : 0.0f;
        wrongIn += input[i] != expected;
    }
    EXPECT_EQ(wrongIn, 0u);

    std::vector<std::pair<std::string, double>> values;
    for (size_t i = 0; i < c.settings.size(); i += 2) {
        values.emplace_back(c.settings[i].substr(2), std::stod(c.settings[i + 1]));
    }
    const cihear::Applied applied = cihear::ApplyStrict(values);
    ASSERT_TRUE(applied.ok());
    cihear::Options live;
    live.live = true;
    const std::vector<double> x(input.begin(), input.end());
    const cihear::Result offline =
        cihear::Simulate(x.data(), x.size(), cihear::kOutputRate, applied.settings, live);
    ASSERT_TRUE(offline.status.ok());
    size_t wrongOut = 0, first = output.size();
    for (size_t i = 0; i < output.size(); i++) {
        if (output[i] != static_cast<float>(offline.output[i])) {
            first = std::min(first, i);
            wrongOut++;
        }
    }
    EXPECT_EQ(wrongOut, 0u) << "first at " << first << " of " << output.size();
}

// The whole file (ending by itself), and 20 s of a looped file ended by Ctrl-C with other
// settings: no dropout of the program's own and the recordings finished whole.
INSTANTIATE_TEST_SUITE_P(
    Live, PlayTest,
    testing::Values(PlayCase{"WholeFile", {}, 0},
                    PlayCase{"TwentySecondsCtrlC",
                             {"--synchronization", "0", "--n_on", "6", "--rate", "900"},
                             20}),
    [](const testing::TestParamInfo<PlayCase>& info) { return std::string(info.param.name); });

// The server going away ends the run with one line and status 1, the recording finished whole.
TEST_F(LiveJackTest, ServerStoppingEndsTheRun) {
    const std::string out = Temp("stopped.wav");
    Program program({CIHEAR_LIVE_EXE, "--jack", "--play", kSpeech, "--loop", "--record", out});
    std::this_thread::sleep_for(std::chrono::seconds(2));
    server->Stop();
    const ProgramRun run = program.Finish(10);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "cihear-live: the JACK server stopped: start it again, then cihear-live\n");
    EXPECT_GT(ReadRecording(out).size(), size_t(cihear::kOutputRate / 2));
}

}  // namespace
