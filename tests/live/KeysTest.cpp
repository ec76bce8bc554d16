// The keys on a terminal: space switches between simulation and original, q quits.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>

#include <chrono>
#include <string>

#include "JackServer.h"

namespace {

// What the program wrote to the terminal within `ms` milliseconds.
std::string ReadFor(int fd, int ms) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (auto now = std::chrono::steady_clock::now(); now < end;
         now = std::chrono::steady_clock::now()) {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        char buffer[4096];
        ssize_t n = 0;
        if (poll(&p, 1, static_cast<int>(left.count())) > 0 &&
            (n = read(fd, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else if (n < 0) {
            break;
        }
    }
    return text;
}

TEST(KeysTest, SpaceSwitchesAndQQuits) {
    if (std::string(JACKD).empty()) {
        GTEST_SKIP() << "jackd is not installed (scripts/install-deps test)";
    }
    JackServer server;
    ASSERT_TRUE(server.Ready());
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(CIHEAR_LIVE_EXE, CIHEAR_LIVE_EXE, "--jack", "--play",
              CIHEAR_SOURCE_DIR "/examples/speech.wav", "--loop", static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string before = ReadFor(terminal, 1500);
    EXPECT_NE(before.find("space: simulation/original, q: quit"), std::string::npos) << before;
    EXPECT_NE(before.find("| simulation"), std::string::npos) << before;
    ASSERT_EQ(write(terminal, " ", 1), 1);
    const std::string after = ReadFor(terminal, 1500);
    EXPECT_NE(after.find("| original"), std::string::npos) << after;
    // In place: each status line returns to the start of the line instead of a new one.
    EXPECT_NE(after.find("\r"), std::string::npos);
    ASSERT_EQ(write(terminal, "q", 1), 1);
    const auto start = std::chrono::steady_clock::now();
    int status = -1;
    while (waitpid(pid, &status, WNOHANG) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
        ReadFor(terminal, 20);
    }
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "q did not end the program";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(terminal);
}

}  // namespace
