#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "params/Parameters.h"

namespace {

using cihear::Applied;
using cihear::ApplyStrict;

std::string Joined(const std::vector<cihear::Message>& messages) {
    std::string all;
    for (const cihear::Message& m : messages) {
        all += "[" + m.parameter + "] " + m.text + "\n";
    }
    return all;
}

TEST(ParameterTableTest, AgreesWithTheParameterSet) {
    // The parameter set takes its defaults and bounds from the table; reading them back through
    // the members shows each entry reached the member of its own name.
    const Parameters p;
    const auto& t = cihear::ParameterTable();
    ASSERT_EQ(t.size(), 19u);  // the strategy's thirteen, the implant models' six
    const cihear::Settings defaults;
    for (const cihear::ParameterInfo& info : t) {
        if (info.kind == cihear::ValueKind::kList) {
            EXPECT_TRUE(std::isnan(cihear::GetValue(defaults, info))) << info.name;
        } else {
            EXPECT_EQ(cihear::GetValue(defaults, info), info.defaultValue) << info.name;
        }
        EXPECT_EQ(cihear::FindParameter(info.name), &info);
    }
    EXPECT_EQ(p.rate->GetMin(), cihear::FindParameter("rate")->min);
    EXPECT_EQ(p.interact_decay->GetMin(), cihear::FindParameter("interact_decay")->min);
    EXPECT_EQ(p.cutoff_freq->GetMax(), cihear::FindParameter("cutoff_freq")->max);
    EXPECT_EQ(p.n_chan_ci->GetMax(), 50u);
    EXPECT_EQ(cihear::FindParameter("seed"), nullptr);
}

TEST(StrictSetupTest, TakesValuesInRangeAsTheyAre) {
    const Applied a = ApplyStrict({{"rate", 900},
                                   {"f_min", 400},
                                   {"f_max", 7000},
                                   {"length_ci", 20},
                                   {"n_chan_ci", 10},
                                   {"n_inserted_ch", 9},
                                   {"n_on", 4},
                                   {"interact_decay", 1.5},
                                   {"envelope_detection", 1},
                                   {"synchronization", 0.25},
                                   {"eas", 1},
                                   {"cutoff_freq", 1200},
                                   {"freq_shift", 1}});
    ASSERT_TRUE(a.ok()) << Joined(a.errors);
    EXPECT_TRUE(a.warnings.empty()) << Joined(a.warnings);
    EXPECT_EQ(a.settings.rate, 900);
    EXPECT_EQ(a.settings.n_on, 4u);
    EXPECT_EQ(a.settings.interact_decay, 1.5);
    EXPECT_TRUE(a.settings.eas);
    EXPECT_TRUE(a.settings.freq_shift);
    EXPECT_EQ(a.settings.cutoff_freq, 1200);
}

TEST(StrictSetupTest, EveryRefusalNamesParameterValueAndRange) {
    const Applied a = ApplyStrict({{"rate", 20000},
                                   {"n_on", 2.5},
                                   {"eas", 2},
                                   {"f_min", std::numeric_limits<double>::quiet_NaN()},
                                   {"n_chan_ci", -1},
                                   {"channels", 8}});
    ASSERT_EQ(a.errors.size(), 6u) << Joined(a.errors);
    EXPECT_EQ(a.errors[0].parameter, "rate");
    EXPECT_EQ(a.errors[0].text, "rate = 20000 is out of range; accepted: 10 to 10000 (pulses/s)");
    EXPECT_EQ(a.errors[1].text,
              "n_on = 2.5 is not a whole number; accepted: 1 to 50, at most n_inserted_ch "
              "(channels)");
    EXPECT_EQ(a.errors[2].text, "eas = 2 is out of range; accepted: 0 (off) or 1 (on)");
    EXPECT_NE(a.errors[3].text.find("f_min = nan is not a finite number"), std::string::npos);
    EXPECT_NE(a.errors[4].text.find("n_chan_ci = -1 is out of range"), std::string::npos);
    EXPECT_NE(a.errors[5].text.find("unknown parameter 'channels'"), std::string::npos);
}

TEST(StrictSetupTest, UpperEdgeBelowLowerEdgeIsAnError) {
    const Applied a = ApplyStrict({{"f_min", 4000}, {"f_max", 3000}});
    ASSERT_EQ(a.errors.size(), 1u);
    EXPECT_EQ(a.errors[0].parameter, "f_max");
    EXPECT_NE(a.errors[0].text.find("f_max = 3000 is below f_min = 4000"), std::string::npos);
}

TEST(StrictSetupTest, CascadesApplyAndAreReported) {
    // The cutoff pushes f_max up, with or without eas.
    Applied a = ApplyStrict({{"f_max", 3000}, {"cutoff_freq", 4000}, {"eas", 1}});
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(a.settings.f_max, 4000);
    ASSERT_EQ(a.warnings.size(), 1u);
    EXPECT_EQ(a.warnings[0].text, "f_max raised from 3000 to 4000 to stay above cutoff_freq");
    a = ApplyStrict({{"f_max", 3000}, {"cutoff_freq", 4000}});
    EXPECT_EQ(a.settings.f_max, 4000);

    // Channel counts are capped at the implant's, and N at the inserted channels.
    a = ApplyStrict({{"n_chan_ci", 8}, {"n_inserted_ch", 20}, {"n_on", 30}});
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(a.settings.n_inserted_ch, 8u);
    EXPECT_EQ(a.settings.n_on, 8u);
    EXPECT_EQ(Joined(a.warnings),
              "[n_inserted_ch] n_inserted_ch changed to n_chan_ci = 8\n"
              "[n_on] n_on changed to n_chan_ci = 8\n");
    a = ApplyStrict({{"n_inserted_ch", 6}});
    EXPECT_EQ(a.settings.n_on, 6u);
    EXPECT_EQ(Joined(a.warnings), "[n_on] n_on changed to n_inserted_ch = 6\n");
}

struct WarningCase {
    std::vector<std::pair<std::string, double>> values;
    std::string warnings;  // as Joined gives them
};

TEST(StrictSetupTest, WarnsOfSettingsThatDoNotDoWhatTheySeem) {
    const std::string raised =
        "[f_max] f_max raised to cutoff_freq = 2000 Hz although eas is off; set cutoff_freq to "
        "use a lower f_max\n";
    const std::string electrodes =
        "[n_chan_ci] 22 electrodes, 12 inserted: set n_inserted_ch (up to 22) to simulate more "
        "than 12 channels\n";
    const WarningCase cases[] = {
        // The default cutoff raises f_max although eas is off; under eas it is expected.
        {{{"f_max", 1000}}, raised},
        {{{"f_max", 1000}, {"eas", 0}, {"n_on", 6}}, raised},
        {{{"f_max", 1000}, {"eas", 1}},
         "[f_max] f_max raised from 1000 to 2000 to stay above "
         "cutoff_freq\n"},
        {{{"f_max", 1000}, {"cutoff_freq", 1000}}, ""},
        // More electrodes alone leave the inserted ones, and so the channels, as they were.
        {{{"n_chan_ci", 22}}, electrodes},
        {{{"n_chan_ci", 22}, {"n_on", 16}},
         "[n_on] n_on changed to n_inserted_ch = 12\n" + electrodes},
        {{{"n_inserted_ch", 12}, {"n_chan_ci", 22}},
         electrodes},  // the default, as Python passes it
        {{{"n_chan_ci", 22}, {"n_inserted_ch", 14}}, ""},
        {{{"n_chan_ci", 22}, {"n_inserted_ch", 10}, {"n_on", 10}}, ""},
        {{{"n_chan_ci", 22}, {"n_inserted_ch", 22}}, ""},
        {{{"n_chan_ci", 12}}, ""},
        {{{"n_inserted_ch", 8}}, "[n_on] n_on changed to n_inserted_ch = 8\n"},
    };
    for (const WarningCase& c : cases) {
        const Applied a = ApplyStrict(c.values);
        ASSERT_TRUE(a.ok()) << Joined(a.errors);
        EXPECT_EQ(Joined(a.warnings), c.warnings) << c.values[0].first;
    }
    EXPECT_EQ(ApplyStrict({{"f_max", 1000}}).settings.f_max, 2000);
    EXPECT_EQ(ApplyStrict({{"n_chan_ci", 22}}).settings.n_inserted_ch, 12u);
}

TEST(CompatibleSetupTest, RefusesSilentlyAndWarnsOnlyOfTheImplantCaps) {
    cihear::Settings s;
    s.rate = 20000;  // refused: the default stays
    s.f_max = 3000;  // taken, then raised by the cutoff
    s.cutoff_freq = 4000;
    s.n_chan_ci = 8;
    s.n_inserted_ch = 20;
    const Applied a = cihear::ApplyCompatible(s);
    EXPECT_TRUE(a.ok());
    EXPECT_EQ(a.settings.rate, 1800);
    EXPECT_EQ(a.settings.f_max, 4000);  // raised without a word, as the command line does
    EXPECT_EQ(a.settings.n_inserted_ch, 8u);
    EXPECT_EQ(a.settings.n_on, 8u);
    EXPECT_EQ(Joined(a.warnings),
              "[n_inserted_ch] n_inserted_ch changed to n_chan_ci = 8\n"
              "[n_on] n_on changed to n_chan_ci = 8\n");
}

TEST(CompatibleSetupTest, SaysNothingOfTheStrictFrontEndsWarnings) {
    cihear::Settings s;
    s.f_max = 1000;    // raised to the cutoff although eas is off
    s.n_chan_ci = 22;  // 12 inserted
    const Applied a = cihear::ApplyCompatible(s);
    EXPECT_EQ(a.settings.f_max, 2000);
    EXPECT_EQ(a.settings.n_inserted_ch, 12u);
    EXPECT_TRUE(a.warnings.empty()) << Joined(a.warnings);
}

}  // namespace
