// The threads of a simulation: every index once, errors back on the caller, the ordered finish,
// the thread count from the environment, and the signals the helpers leave alone.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "dsp/Parallel.h"

TEST(Parallel, EveryIndexRunsOnceInLoopAfterLoop) {
    for (unsigned size : {1u, 2u, 4u}) {
        parallel::Team team(size);
        EXPECT_EQ(team.Size(), size);
        // Many short loops in a row: a helper that wakes late must not run an index of a loop
        // it did not see, nor miss one.
        for (uint32_t loop = 0; loop < 3000; loop++) {
            const uint32_t count = loop % 11;
            std::vector<std::atomic<int>> runs(count);
            team.For(count, [&](uint32_t i) { runs[i].fetch_add(1); });
            for (uint32_t i = 0; i < count; i++) {
                ASSERT_EQ(runs[i].load(), 1) << "size " << size << " loop " << loop;
            }
        }
        // Long enough for the helpers to go to sleep between loops.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::vector<std::atomic<int>> runs(1000);
        team.For(1000, [&](uint32_t i) { runs[i].fetch_add(1); });
        for (auto& r : runs) {
            ASSERT_EQ(r.load(), 1);
        }
    }
}

TEST(Parallel, TheFirstErrorReachesTheCallerAndTheTeamGoesOn) {
    parallel::Team team(3);
    std::atomic<int> ran(0);
    EXPECT_THROW(team.For(50,
                          [&](uint32_t i) {
                              ran++;
                              if (i % 10 == 3) {
                                  throw std::runtime_error("index " + std::to_string(i));
                              }
                          }),
                 std::runtime_error);
    EXPECT_EQ(ran.load(), 50);  // the other indices still ran
    std::atomic<int> after(0);
    team.For(20, [&](uint32_t) { after++; });
    EXPECT_EQ(after.load(), 20);
    parallel::Team pair(2);
    EXPECT_THROW(pair.For(5, [](uint32_t) { throw std::bad_alloc(); }), std::bad_alloc);
}

TEST(Parallel, OrderedFinishesGoInIncreasingOrder) {
    for (unsigned threads : {1u, 2u, 3u}) {
        std::vector<uint32_t> order;
        std::atomic<int> running(0);
        parallel::ForOrdered(
            threads, 40,
            [&](uint32_t i) {
                running++;
                // Later indices finish their bodies first.
                std::this_thread::sleep_for(std::chrono::microseconds((40 - i) % 7 * 200));
                running--;
            },
            [&](uint32_t i) { order.push_back(i); });
        ASSERT_EQ(order.size(), 40u);
        for (uint32_t i = 0; i < 40; i++) {
            EXPECT_EQ(order[i], i) << "threads " << threads;
        }
    }
    // A failing body: no finish from it on (earlier ones may be skipped too, once the error is
    // known), and nothing waits forever.
    std::vector<uint32_t> finished;
    EXPECT_THROW(parallel::ForOrdered(
                     2, 10,
                     [](uint32_t i) {
                         if (i == 4) {
                             throw std::runtime_error("4");
                         }
                     },
                     [&](uint32_t i) { finished.push_back(i); }),
                 std::runtime_error);
    ASSERT_LE(finished.size(), 4u);
    for (uint32_t i = 0; i < finished.size(); i++) {
        EXPECT_EQ(finished[i], i);
    }
}

TEST(Parallel, HelpersLeaveTheEndingSignalsToTheProgramsThreads) {
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> helperRuns(0), unblocked(0);
    parallel::Team team(2);
    for (int attempt = 0; attempt < 200 && helperRuns.load() == 0; attempt++) {
        team.For(8, [&](uint32_t) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            if (std::this_thread::get_id() == caller) {
                return;
            }
            helperRuns++;
            sigset_t mask;
            pthread_sigmask(SIG_BLOCK, nullptr, &mask);
            for (int s : {SIGINT, SIGTERM, SIGHUP}) {
                unblocked += !sigismember(&mask, s);
            }
        });
    }
    ASSERT_GT(helperRuns.load(), 0);
    EXPECT_EQ(unblocked.load(), 0);
    // The caller's own mask is as it was.
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_FALSE(sigismember(&mask, SIGTERM));
}

TEST(Parallel, ThreadCountFromTheEnvironment) {
    const char* saved = std::getenv("CIHEAR_THREADS");
    const std::string keep = saved ? saved : "";
    setenv("CIHEAR_THREADS", "3", 1);
    EXPECT_EQ(parallel::DefaultThreadCount(), 3u);
    unsetenv("CIHEAR_THREADS");
    const unsigned all = parallel::DefaultThreadCount();
    EXPECT_GE(all, 1u);
    for (const char* wrong : {"0", "-2", "two", "3x", "", "1025"}) {
        setenv("CIHEAR_THREADS", wrong, 1);
        EXPECT_EQ(parallel::DefaultThreadCount(), all) << wrong;
    }
    if (saved) {
        setenv("CIHEAR_THREADS", keep.c_str(), 1);
    } else {
        unsetenv("CIHEAR_THREADS");
    }
}
