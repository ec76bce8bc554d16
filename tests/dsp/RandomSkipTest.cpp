// randn_skip moves a random state exactly as drawing would.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dsp/gasdev.h"

namespace {

bool SameState(const RandomState& a, const RandomState& b) {
    return a.seed == b.seed && a.iy == b.iy && std::memcmp(a.iv, b.iv, sizeof a.iv) == 0 &&
           a.iset == b.iset && (a.iset == 0 || std::memcmp(&a.gset, &b.gset, sizeof a.gset) == 0);
}

}  // namespace

TEST(RandnSkip, LeavesTheStateDrawingLeaves) {
    for (const uint32_t lead : {0u, 1u, 2u, 7u}) {  // draws before: iset 0 or 1
        for (const uint32_t count : {0u, 1u, 2u, 3u, 4u, 1001u, 70000u}) {
            RandomState drawn = SeededRandomState(12345);
            std::vector<double> out(lead + count + 5);
            randn_fill(drawn, out.data(), lead);
            RandomState skipped = drawn;
            randn_fill(drawn, out.data(), count);
            randn_skip(skipped, count);
            EXPECT_TRUE(SameState(drawn, skipped)) << "lead " << lead << " count " << count;
            // And the draws after it agree.
            std::vector<double> a(5), b(5);
            randn_fill(drawn, a.data(), 5);
            randn_fill(skipped, b.data(), 5);
            EXPECT_EQ(0, std::memcmp(a.data(), b.data(), 5 * sizeof(double)));
        }
    }
}

TEST(RandnSkip, FromAFreshState) {
    RandomState drawn;
    RandomState skipped;
    std::vector<double> out(333);
    randn_fill(drawn, out.data(), 333);
    randn_skip(skipped, 333);
    EXPECT_TRUE(SameState(drawn, skipped));
}
