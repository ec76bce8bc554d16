// The implant models' values between themselves and the strategy's: layouts, maps, band edges
// and switched-off electrodes as the setups take or refuse them.
#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "params/BandEdges.h"
#include "params/Models.h"

namespace {

using cihear::Applied;
using cihear::ApplyStrict;
using cihear::Value;

std::string Errors(const Applied& a) {
    std::string all;
    for (const cihear::Message& m : a.errors) {
        all += m.text + "\n";
    }
    return all;
}

bool Warns(const Applied& a, const std::string& text) {
    for (const cihear::Message& m : a.warnings) {
        if (m.text.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(LayoutEdgesTest, EachLayoutStepsEquallyOnItsOwnScale) {
    const double lo = 250;
    const double hi = 8000;
    const uint32_t n = 9;
    struct Scale {
        unsigned layout;
        double (*to)(double);
    };
    const Scale scales[] = {{params::kGreenwood, params::GreenwoodPlace},
                            {params::kErb, params::ErbNumber},
                            {params::kLinear, [](double f) { return f; }},
                            {params::kLog, [](double f) { return std::log(f); }}};
    for (const Scale& scale : scales) {
        SCOPED_TRACE(scale.layout);
        const std::vector<double> e = params::LayoutEdges(scale.layout, lo, hi, n);
        ASSERT_EQ(e.size(), n + 1);
        EXPECT_NEAR(e.front(), lo, 1e-9);
        EXPECT_NEAR(e.back(), hi, 1e-9);
        const double step = (scale.to(hi) - scale.to(lo)) / n;
        for (uint32_t k = 1; k <= n; k++) {
            EXPECT_NEAR(scale.to(e[k]) - scale.to(e[k - 1]), step, 1e-9 * std::fabs(step));
        }
    }
    // The maps invert each other, and Greenwood's map spans the human range.
    EXPECT_NEAR(params::GreenwoodFrequency(params::GreenwoodPlace(1234.5)), 1234.5, 1e-9);
    EXPECT_NEAR(params::GreenwoodFrequency(1.0), 165.4 * (std::pow(10.0, 2.1) - 0.88), 1e-9);
    EXPECT_NEAR(params::ErbFrequency(params::ErbNumber(4321)), 4321, 1e-9);
    // Layouts differ: a Greenwood layout is finer at the bottom than a linear one.
    EXPECT_LT(params::LayoutEdges(params::kGreenwood, lo, hi, n)[1],
              params::LayoutEdges(params::kLinear, lo, hi, n)[1]);
}

TEST(LayoutEdgesTest, ReallocationKeepsTheRangeAndTheTableItself) {
    const std::vector<double> table = params::MapEdges(params::kNucleus22);
    EXPECT_EQ(params::Reallocate(table, 22), table);
    const std::vector<double> ten = params::Reallocate(table, 10);
    ASSERT_EQ(ten.size(), 11u);
    EXPECT_EQ(ten.front(), 188);
    EXPECT_EQ(ten.back(), 7938);
    for (size_t k = 1; k < ten.size(); k++) {
        EXPECT_GT(ten[k], ten[k - 1]);
    }
    // 11 channels of 22: every other edge of the table, exactly.
    const std::vector<double> eleven = params::Reallocate(table, 11);
    for (size_t k = 0; k < eleven.size(); k++) {
        EXPECT_EQ(eleven[k], table[2 * k]);
    }
}

TEST(ModelSetupTest, AMapSetsItsEdgesAndTheChannelCounts) {
    const Applied a = ApplyStrict({{"map", "nucleus22"}});
    ASSERT_TRUE(a.ok()) << Errors(a);
    EXPECT_EQ(a.settings.band_edges, params::MapEdges(params::kNucleus22));
    EXPECT_EQ(a.settings.n_inserted_ch, 22u);
    EXPECT_EQ(a.settings.n_chan_ci, 22u);
    EXPECT_EQ(a.settings.f_min, 188);
    EXPECT_EQ(a.settings.f_max, 7938);
    EXPECT_EQ(a.settings.n_on, 12u);  // the strategy stays as given
    EXPECT_TRUE(Warns(a, "n_inserted_ch set to 22 by map nucleus22"));
    // The effective settings are taken again as they are.
    std::vector<std::pair<std::string, Value>> again;
    for (const cihear::ParameterInfo& info : cihear::ParameterTable()) {
        again.emplace_back(info.name, cihear::GetParameter(a.settings, info));
    }
    const Applied b = ApplyStrict(again);
    ASSERT_TRUE(b.ok()) << Errors(b);
    EXPECT_EQ(b.settings.band_edges, a.settings.band_edges);
    EXPECT_EQ(params::MapEdges(params::kAb16).size(), 17u);
    EXPECT_EQ(params::MapEdges(params::kMedel12).size(), 13u);
}

TEST(ModelSetupTest, BandEdgesSetTheChannelsAndCapNon) {
    const Applied a = ApplyStrict(
        {{"band_edges", std::vector<double>{200, 400, 800, 1600, 3200}}, {"n_chan_ci", 2}});
    ASSERT_TRUE(a.ok()) << Errors(a);
    EXPECT_EQ(a.settings.n_inserted_ch, 4u);
    EXPECT_EQ(a.settings.n_chan_ci, 4u);  // raised to hold the channels
    EXPECT_EQ(a.settings.n_on, 2u);       // n_chan_ci = 2 capped it before the edges
    EXPECT_EQ(a.settings.f_min, 200);
    EXPECT_EQ(a.settings.f_max, 3200);
    const Applied b = ApplyStrict({{"band_edges", std::vector<double>{200, 400, 800}}});
    EXPECT_EQ(b.settings.n_on, 2u);
    EXPECT_TRUE(Warns(b, "n_on changed to n_inserted_ch = 2"));
    EXPECT_TRUE(
        Warns(ApplyStrict({{"band_edges", std::vector<double>{200, 600}}, {"bands", "greenwood"}}),
              "bands is not used: band_edges sets the edges"));
}

TEST(ModelSetupTest, SwitchedOffElectrodesCapNon) {
    const Applied a = ApplyStrict({{"off", std::vector<double>{7, 3}}});
    ASSERT_TRUE(a.ok()) << Errors(a);
    EXPECT_EQ(a.settings.n_on, 10u);
    EXPECT_TRUE(Warns(a, "n_on changed to the 10 active electrodes (2 switched off)"));
    EXPECT_EQ(params::OffElectrodes(a.settings), (std::vector<uint32_t>{3, 7}));
    EXPECT_EQ(params::ActiveElectrodes(a.settings).size(), 10u);
    EXPECT_EQ(ApplyStrict({{"off", 5}}).settings.off, std::vector<double>{5});  // a list of one
}

TEST(ModelSetupTest, ValuesThatCannotBeTakenAreErrorsInEitherSetup) {
    struct Case {
        std::vector<std::pair<std::string, Value>> values;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{{"map", "nucleus23"}}, "map = 'nucleus23' is unknown; accepted: one of none"},
        {{{"bands", 1}}, "bands = 1 is not a name"},
        {{{"carrier", "tone"}}, "accepted: one of pulse-noise, sine"},
        {{{"band_edges", "188"}}, "is not a list of numbers"},
        {{{"band_edges", std::vector<double>{300, 200}}}, "must increase: 200 follows 300"},
        {{{"band_edges", std::vector<double>{300}}}, "band_edges has 1 edges"},
        {{{"band_edges", std::vector<double>{300, 10000}}}, "not below 10000 Hz"},
        {{{"band_edges", std::vector<double>{6000, 9000}}}, "start at most at 5000 Hz"},
        {{{"band_edges", std::vector<double>{19, 400}}}, "not a finite number within"},
        {{{"map", "ab16"}, {"band_edges", std::vector<double>{300, 400}}}, "not both"},
        {{{"off", 13}}, "off = 13 is not an inserted electrode; accepted: 1 to 12"},
        {{{"off", 2.5}}, "is not an electrode number"},
        {{{"off", std::vector<double>{2, 2}}}, "lists electrode 2 twice"},
        {{{"off", std::vector<double>{1, 2}}, {"n_inserted_ch", 2}, {"n_chan_ci", 2}},
         "switches off every electrode (2 of 2)"},
    };
    for (const Case& c : cases) {
        const Applied a = ApplyStrict(c.values);
        ASSERT_FALSE(a.ok()) << c.says;
        EXPECT_NE(Errors(a).find(c.says), std::string::npos) << Errors(a);
    }
    // The command line's setup checks them too (its own refusals stay silent).
    cihear::Settings s;
    s.off = {13};
    s.rate = 1e9;
    const Applied compatible = cihear::ApplyCompatible(s);
    EXPECT_FALSE(compatible.ok());
    EXPECT_NE(Errors(compatible).find("off = 13"), std::string::npos);
}

TEST(ModelSetupTest, TextReadsBackToTheSameValue) {
    cihear::Settings s;
    s.band_edges = {188, 312.5, 0.1 + 437.2, 1e3 / 3};
    s.bands = params::kErb;
    for (const char* name : {"band_edges", "bands", "rate", "eas"}) {
        const cihear::ParameterInfo& info = *cihear::FindParameter(name);
        const std::string text = cihear::FormatValue(s, info);
        Value v;
        std::string error;
        ASSERT_TRUE(cihear::ParseValue(info, text, v, error)) << name << ": " << error;
        const Applied a = ApplyStrict({{name, v}});
        EXPECT_EQ(cihear::FormatValue(a.settings, info), text) << name;
    }
    EXPECT_EQ(cihear::FormatValue(s, *cihear::FindParameter("bands")), "erb");
    // Whole numbers written whole, as a person writes them, not in the shorter 1.8e+03.
    s.band_edges = {300, 1800, 8000, 0.25, 99999999};
    EXPECT_EQ(cihear::FormatValue(s, *cihear::FindParameter("band_edges")),
              "300,1800,8000,0.25,99999999");
    EXPECT_EQ(cihear::FormatValue(s, *cihear::FindParameter("rate")), "1800");
    EXPECT_EQ(cihear::FormatValue(cihear::Settings(), *cihear::FindParameter("off")), "");
    Value v;
    std::string error;
    EXPECT_FALSE(cihear::ParseValue(*cihear::FindParameter("off"), "3,,7", v, error));
    EXPECT_NE(error.find("off = '3,,7'"), std::string::npos) << error;
    EXPECT_FALSE(cihear::ParseValue(*cihear::FindParameter("rate"), "fast", v, error));
}

TEST(ModelSetupTest, IneffectiveValuesAreWarnedAbout) {
    EXPECT_TRUE(Warns(ApplyStrict({{"carrier", "sine"}, {"synchronization", 0.5}}),
                      "synchronization does not apply to carrier sine"));
    EXPECT_TRUE(Warns(ApplyStrict({{"sine_phase", "zero"}}), "applies to carrier sine only"));
    EXPECT_TRUE(Warns(ApplyStrict({{"map", "nucleus22"}, {"eas", 1}}), "the two overlap"));
    EXPECT_TRUE(ApplyStrict({{"carrier", "sine"}, {"sine_phase", "zero"}}).warnings.empty());
}

}  // namespace
