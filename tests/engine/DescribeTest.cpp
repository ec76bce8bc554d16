#include <cihear/cihear.h>
#include <gtest/gtest.h>

TEST(DescribeTest, MeasuredBandsShowHowWideTheShortFiltersPass) {
    const cihear::Design d = cihear::Describe(cihear::Settings());
    ASSERT_EQ(d.bands.size(), 12u);
    ASSERT_EQ(d.measuredBands.size(), 12u);
    // Band 0 is nominally 300-396 Hz; its 100-tap filter passes far more.
    EXPECT_NEAR(d.bands[0].low, 300.0, 1e-9);
    EXPECT_NEAR(d.measuredBands[0].low, 217, 5);
    EXPECT_NEAR(d.measuredBands[0].high, 479, 5);
    for (size_t i = 0; i < 12; i++) {
        EXPECT_LT(d.measuredBands[i].low, d.bands[i].center) << i;
        EXPECT_GT(d.measuredBands[i].high, d.bands[i].center) << i;
    }
}
