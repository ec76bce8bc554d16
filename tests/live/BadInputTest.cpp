// Bad input: one line saying what and what to try, status 1, within 2 s.
#include <gtest/gtest.h>

#include <chrono>

#include "JackServer.h"

namespace {

struct BadCase {
    const char* name;
    std::vector<std::string> args;
    bool server;         // with a JACK server running
    const char* saying;  // what the line must say
};

class BadInputTest : public testing::TestWithParam<BadCase> {};

TEST_P(BadInputTest, OneLineStatusOneWithinTwoSeconds) {
    const BadCase& c = GetParam();
    std::unique_ptr<JackServer> server;
    if (c.server) {
        if (std::string(JACKD).empty()) {
            GTEST_SKIP() << "jackd is not installed";
        }
        server = std::make_unique<JackServer>();
        ASSERT_TRUE(server->Ready());
    } else {
        // A server name nobody uses: no JACK server answers, whatever runs on the machine.
        setenv("JACK_DEFAULT_SERVER", ("cihear-none-" + std::to_string(getpid())).c_str(), 1);
    }
    std::vector<std::string> command = {CIHEAR_LIVE_EXE};
    command.insert(command.end(), c.args.begin(), c.args.end());
    const auto start = std::chrono::steady_clock::now();
    Program program(command);
    const ProgramRun run = program.Finish(10);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.status, 1);
    EXPECT_LT(seconds, 2.0);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_EQ(run.err.rfind("cihear-live: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.saying), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Live, BadInputTest,
    testing::Values(BadCase{"NoJackServer", {"--jack"}, false, "no JACK server is running"},
                    BadCase{"NoSuchPort",
                            {"--jack", "--connect-out", "nosuch:port"},
                            true,
                            "no JACK port 'nosuch:port'"},
                    BadCase{"PeriodJackRefuses", {"--jack", "--period", "512"}, true, "-p 512"},
                    BadCase{"UnknownDevice",
                            {"--output-device", "no-such-device-xyz"},
                            false,
                            "no-such-device-xyz"},
                    BadCase{"RateOutOfRange", {"--rate", "5"}, false, "rate"},
                    BadCase{"CountNotWhole", {"--jack", "--n_on", "2.5"}, false, "n_on"},
                    BadCase{"NotANumber", {"--f_max", "high"}, false, "--f_max takes a number"},
                    BadCase{"MixOutOfRange", {"--mix", "2"}, false, "--mix"},
                    BadCase{"UnknownOption", {"--colour"}, false, "--help"},
                    BadCase{"MissingFile",
                            {"--jack", "--play", "/nonexistent/x.wav"},
                            false,
                            "cannot open /nonexistent/x.wav"},
                    BadCase{"UnwritableRecording",
                            {"--jack", "--play", CIHEAR_SOURCE_DIR "/examples/speech.wav",
                             "--record", "/nonexistent/out.wav"},
                            true,
                            "cannot write /nonexistent/out.wav"}),
    [](const testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

}  // namespace
