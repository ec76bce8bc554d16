// The richer kinds of value the parameter list can hold (a choice among names, a list of
// numbers), on a small list of its own expanded by the same macros as the real one.
#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "params/ValueKinds.h"

namespace {

// clang-format off
#define DEMO_PARAMETERS(X)                                                                  \
    X(layout, unsigned, Choice, "log|greenwood|device", 0, "", 1, 0, 2, "",                 \
      "how the bands are laid out", "Band layout.")                                         \
    X(edges, std::vector<double>, List, "", 0, "Hz", 0, 20, 10000, "",                      \
      "band edges", "Band edges in Hz.")                                                    \
    X(gain, double, Real, "", 'g', "dB", 0, -20, 20, "", "gain", "Gain in dB.")
// clang-format on

struct DemoSettings {
    DEMO_PARAMETERS(CIHEAR_SETTINGS_FIELD)
};

const std::vector<cihear::ParameterInfo> kDemoTable = {DEMO_PARAMETERS(CIHEAR_TABLE_ENTRY)};

TEST(ValueKindsTest, TheListMakesFieldsAndEntriesOfEachKind) {
    const DemoSettings defaults;
    static_assert(std::is_same_v<decltype(DemoSettings::edges), std::vector<double>>);
    EXPECT_EQ(defaults.layout, 1u);
    EXPECT_TRUE(defaults.edges.empty());
    EXPECT_EQ(defaults.gain, 0.0);
    ASSERT_EQ(kDemoTable.size(), 3u);
    EXPECT_EQ(kDemoTable[0].kind, cihear::ValueKind::kChoice);
    EXPECT_EQ(kDemoTable[1].kind, cihear::ValueKind::kList);
    EXPECT_STREQ(kDemoTable[1].unit, "Hz");
    EXPECT_EQ(kDemoTable[2].letter, 'g');
    // In the real list only a choice has names, and its default and bounds are indices of them.
    for (const cihear::ParameterInfo& info : cihear::ParameterTable()) {
        const std::vector<std::string> names = params::ChoiceNames(info);
        if (info.kind != cihear::ValueKind::kChoice) {
            EXPECT_STREQ(info.choices, "") << info.name;
            EXPECT_TRUE(names.empty()) << info.name;
            continue;
        }
        ASSERT_GE(names.size(), 2u) << info.name;
        EXPECT_EQ(info.min, 0) << info.name;
        EXPECT_EQ(info.max, names.size() - 1.0) << info.name;
        EXPECT_LT(info.defaultValue, names.size()) << info.name;
    }
}

TEST(ValueKindsTest, AChoiceIsFoundByName) {
    const cihear::ParameterInfo& layout = kDemoTable[0];
    EXPECT_EQ(params::ChoiceNames(layout),
              (std::vector<std::string>{"log", "greenwood", "device"}));
    EXPECT_EQ(params::FindChoice(layout, "log"), 0u);
    EXPECT_EQ(params::FindChoice(layout, "device"), 2u);
    EXPECT_EQ(params::FindChoice(layout, "Device"), std::nullopt);
    EXPECT_EQ(params::FindChoice(layout, ""), std::nullopt);
    EXPECT_EQ(params::FindChoice(kDemoTable[2], "log"), std::nullopt);  // not a choice
}

TEST(ValueKindsTest, AListIsCheckedValueByValue) {
    const cihear::ParameterInfo& edges = kDemoTable[1];
    EXPECT_EQ(params::ListRefusal(edges, {}), "");
    EXPECT_EQ(params::ListRefusal(edges, {20, 250.5, 10000}), "");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const std::vector<double>& bad : std::vector<std::vector<double>>{
             {19.99}, {250, 10000.5}, {250, nan}, {std::numeric_limits<double>::infinity()}}) {
        EXPECT_NE(params::ListRefusal(edges, bad).find("edges"), std::string::npos);
    }
    EXPECT_NE(params::ListRefusal(edges, {250, nan}).find("value 2"), std::string::npos);
}

}  // namespace
