// The keys on a terminal: space switches between simulation and original, q quits.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>

#include <chrono>
#include <string>

#include "JackServer.h"

namespace {

// What the program writes to the terminal until `text` has appeared (true) or `seconds` have
// passed (false).
bool ReadUntil(int fd, const std::string& text, double seconds, std::string& read) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (read.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        char buffer[4096];
        ssize_t n = 0;
        if (poll(&p, 1, 20) > 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
            read.append(buffer, static_cast<size_t>(n));
        } else if (n < 0) {
            break;
        }
    }
    return read.find(text) != std::string::npos;
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
    std::string before, after, rest;
    EXPECT_TRUE(ReadUntil(terminal, "space: simulation/original, q: quit", 10, before)) << before;
    EXPECT_TRUE(ReadUntil(terminal, "| simulation", 10, before)) << before;
    ASSERT_EQ(write(terminal, " ", 1), 1);
    EXPECT_TRUE(ReadUntil(terminal, "| original", 10, after)) << after;
    // In place: each status line returns to the start of the line instead of a new one.
    EXPECT_EQ(after.find('\n'), std::string::npos) << after;
    ASSERT_EQ(write(terminal, "q", 1), 1);
    const auto start = std::chrono::steady_clock::now();
    int status = -1;
    while (waitpid(pid, &status, WNOHANG) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
        ReadUntil(terminal, "\n", 0.02, rest);
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
