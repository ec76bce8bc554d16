#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/gasdev.h"

namespace {

const int64_t modulus = 2147483647;

// 16807^steps * x mod 2^31 - 1 in plain 64-bit arithmetic, as a reference for the generator's
// 32-bit Schrage steps.
int64_t Advance(int64_t x, int steps) {
    for (int i = 0; i < steps; i++) {
        x = (x * 16807) % modulus;
    }
    return x;
}

// Initialisation takes 40 steps; every draw takes one more.
const int initSteps = 40;

const double firstRandn[] = {-0.8368539810180664, -0.1722799688577652, 0.18711760640144348,
                             1.615439772605896,   -0.1767740696668625, 0.6531447172164917};
const double firstUniforms[] = {0.4159993529319763, 0.09196489304304123, 0.7564104795455933};
const double ceiling = 0.9999998807907104;

// A fresh state draws the sequence's fixed start, whatever other states drew before it.
TEST(RandomStateTest, AFreshStateDrawsTheFixedStartOfTheSequence) {
    RandomState other;
    randn(other);
    RandomState state;
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(randn(state), firstRandn[i]) << "draw " << i;
    }
}

// The stored second deviate of a pair survives a call whose state is negative.
TEST(RandomStateTest, NegativeStateDoesNotClearAStoredDeviate) {
    RandomState r;
    int32_t a = -1;
    const float g1 = gasdev(r, &a);
    const float g2 = gasdev(r, &a);
    int32_t b = -1;
    EXPECT_EQ(gasdev(r, &b), g1);
    b = -7;
    EXPECT_EQ(gasdev(r, &b), g2);
    EXPECT_EQ(b, -7) << "returning the stored deviate draws nothing";
}

TEST(RandomStateTest, SeedsGiveReproducibleSequencesOfTheirOwn) {
    const auto draws = [](RandomState state) {
        std::vector<double> v(64);
        for (double& x : v) {
            x = randn(state);
        }
        return v;
    };
    const std::vector<double> fresh = draws(RandomState());
    std::vector<std::vector<double>> seen = {fresh};
    for (int64_t seed : {0, 1, 2, 3, 1000, 2147483643}) {
        const std::vector<double> v = draws(SeededRandomState(seed));
        EXPECT_EQ(v, draws(SeededRandomState(seed))) << "seed " << seed;
        for (const auto& other : seen) {
            EXPECT_NE(v, other) << "seed " << seed;
        }
        seen.push_back(v);
    }
}

TEST(Ran1Test, ZeroStateStartsTheSequenceOfSeedOne) {
    RandomState table;
    // A state of 0 always reinitialises, so this holds whatever the table drew before.
    int32_t seed = 0;
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(static_cast<double>(ran1(table, &seed)), firstUniforms[i]) << "draw " << i;
    }
    EXPECT_EQ(seed, Advance(1, initSteps + 3));
}

TEST(Ran1Test, StatesFollowTheMinimalStandardRecurrence) {
    RandomState table;
    int32_t seed = -5;
    ran1(table, &seed);
    EXPECT_EQ(seed, Advance(5, initSteps + 1)) << "a negative state starts from its magnitude";

    seed = -1;
    const float fromMinusOne = ran1(table, &seed);
    const int32_t stateFromMinusOne = seed;
    seed = INT32_MIN;  // has no 32-bit negation; 2^31 is 1 modulo 2^31 - 1
    EXPECT_EQ(ran1(table, &seed), fromMinusOne);
    EXPECT_EQ(seed, stateFromMinusOne);

    // Once initialised, a positive state takes exactly one step, including states near the
    // top of the range where a naive 32-bit product would overflow.
    const int32_t states[] = {1, 127773, 127774, 2836, 1000000007, 2147483646, 2147483647};
    for (int32_t x : states) {
        seed = x;
        ran1(table, &seed);
        EXPECT_EQ(seed, Advance(x, 1)) << "from " << x;
    }
}

TEST(Ran1Test, LargestTableEntryGivesTheCeiling) {
    RandomState table;
    int32_t seed = 0;
    ran1(table, &seed);
    // The state whose next step is 2^31 - 2, the largest the generator produces: 16807 times
    // it is -1 modulo 2^31 - 1, i.e. it is minus the inverse of 16807 (found by brute
    // force over the multiples of the modulus).
    int64_t inverse = 0;
    for (int64_t m = 1; m < 16807; m++) {
        if ((m * modulus + 1) % 16807 == 0) {
            inverse = (m * modulus + 1) / 16807;
            break;
        }
    }
    ASSERT_NE(inverse, 0);
    seed = static_cast<int32_t>(modulus - inverse);
    // That value enters the shuffle table on this call and leaves it, as the output, when its
    // slot is next chosen.
    bool sawCeiling = false;
    for (int i = 0; i < 10000 && !sawCeiling; i++) {
        const float u = ran1(table, &seed);
        ASSERT_LT(static_cast<double>(u), 1.0);
        sawCeiling = static_cast<double>(u) == ceiling;
    }
    EXPECT_TRUE(sawCeiling);
}

TEST(Ran1Test, StaysInsideTheOpenUnitInterval) {
    RandomState table;
    int32_t seed = -12345;
    double lowest = 1.0;
    double highest = 0.0;
    for (int i = 0; i < 200000; i++) {
        const double u = ran1(table, &seed);
        lowest = std::fmin(lowest, u);
        highest = std::fmax(highest, u);
    }
    EXPECT_GT(lowest, 0.0);
    EXPECT_LE(highest, ceiling);
    EXPECT_LT(lowest, 1e-4);  // and it does spread over the whole interval
    EXPECT_GT(highest, 1.0 - 1e-4);
}

TEST(GasdevTest, DeviatesAreStandardNormal) {
    RandomState table;
    int32_t seed = -3;
    const int n = 200000;
    double sum = 0.0;
    double sumSquares = 0.0;
    int beyondOneSigma = 0;
    for (int i = 0; i < n; i++) {
        const double g = gasdev(table, &seed);
        sum += g;
        sumSquares += g * g;
        beyondOneSigma += std::fabs(g) > 1.0;
    }
    const double mean = sum / n;
    EXPECT_NEAR(mean, 0.0, 0.01);
    EXPECT_NEAR(sumSquares / n - mean * mean, 1.0, 0.02);
    EXPECT_NEAR(static_cast<double>(beyondOneSigma) / n, 0.3173, 0.005);
}

}  // namespace
