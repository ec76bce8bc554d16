#pragma once

#include <gtest/gtest.h>

#include "params/Parameters.h"

// Expects every member of `a` to hold the value of the same member of `b`.
inline void ExpectSameValues(const Parameters& a, const Parameters& b) {
#define CIHEAR_EXPECT_SAME(name, ...) EXPECT_EQ(a.name->GetValue(), b.name->GetValue()) << #name;
    CIHEAR_STRATEGY_PARAMETERS(CIHEAR_EXPECT_SAME)
#undef CIHEAR_EXPECT_SAME
}
