#pragma once

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// The random source is process-wide and starts from a fixed state. Checks of that start must
// not depend on what other tests in this program drew before them, so they run in a freshly
// started copy of the test program ("threadsafe" death tests re-execute the binary with only
// the current test selected). Inside the copy, ordinary EXPECT_* macros report mismatches; they
// are collected, written to standard error (which the parent shows) and turned into the exit
// status.
class FreshProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedStyle = GTEST_FLAG_GET(death_test_style);
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
    void TearDown() override { GTEST_FLAG_SET(death_test_style, savedStyle); }

    static void RunAndExit(void (*check)()) {
        ::testing::TestPartResultArray results;
        {
            ::testing::ScopedFakeTestPartResultReporter collect(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                &results);
            check();
        }
        for (int i = 0; i < results.size(); i++) {
            const ::testing::TestPartResult& r = results.GetTestPartResult(i);
            std::fprintf(stderr, "%s:%d: %s\n", r.file_name(), r.line_number(), r.summary());
        }
        std::fflush(stderr);
        std::_Exit(results.size() == 0 ? 0 : 1);
    }

private:
    std::string savedStyle;
};

#define EXPECT_IN_FRESH_PROCESS(check) \
    EXPECT_EXIT(RunAndExit(check), ::testing::ExitedWithCode(0), "")
