#include <gtest/gtest.h>

#include <memory>

#include "app/cli.h"
#include "params/ExpectSameValues.h"
#include "params/Parameters.h"

namespace {

std::unique_ptr<Parameters> Build(const CliOptions& options) {
    return std::unique_ptr<Parameters>(SetupParameters(options));
}

TEST(SetupParametersTest, OptionDefaultsAreTheParameterDefaults) {
    ExpectSameValues(*Build(CliOptions()), Parameters());
}

TEST(SetupParametersTest, EachOptionReachesItsOwnMember) {
    CliOptions o;
    o.rate = 900;
    o.f_min = 400;
    o.f_max = 7000;
    o.length_ci = 20;
    o.n_chan_ci = 10;
    o.n_inserted_ch = 9;
    o.n_on = 4;
    o.interact_decay = 1.5;
    o.envelope_detection = 1;
    o.synchronization = 0.25;
    o.eas = true;
    o.cutoff_freq = 1200;
    o.freq_shift = true;
    const std::unique_ptr<Parameters> p = Build(o);
    EXPECT_EQ(p->rate->GetValue(), o.rate);
    EXPECT_EQ(p->f_min->GetValue(), o.f_min);
    EXPECT_EQ(p->f_max->GetValue(), o.f_max);
    EXPECT_EQ(p->length_ci->GetValue(), o.length_ci);
    EXPECT_EQ(p->n_chan_ci->GetValue(), o.n_chan_ci);
    EXPECT_EQ(p->n_inserted_ch->GetValue(), o.n_inserted_ch);
    EXPECT_EQ(p->n_on->GetValue(), o.n_on);
    EXPECT_EQ(p->interact_decay->GetValue(), o.interact_decay);
    EXPECT_EQ(p->envelope_detection->GetValue(), o.envelope_detection);
    EXPECT_EQ(p->synchronization->GetValue(), o.synchronization);
    EXPECT_EQ(p->eas->GetValue(), o.eas);
    EXPECT_EQ(p->cutoff_freq->GetValue(), o.cutoff_freq);
    EXPECT_EQ(p->freq_shift->GetValue(), o.freq_shift);
}

TEST(SetupParametersTest, RefusedValuesLeaveTheDefault) {
    CliOptions o;
    o.rate = 20000;
    o.envelope_detection = 2;
    o.n_chan_ci = 0;
    const std::unique_ptr<Parameters> p = Build(o);
    EXPECT_EQ(p->rate->GetValue(), 1800);
    EXPECT_EQ(p->envelope_detection->GetValue(), 0u);
    EXPECT_EQ(p->n_chan_ci->GetValue(), 12u);
}

TEST(SetupParametersTest, OutcomeFollowsMemberOrder) {
    {
        CliOptions o;  // f_max is set after f_min, and refused below it
        o.f_min = 1000;
        o.f_max = 800;
        const std::unique_ptr<Parameters> p = Build(o);
        EXPECT_EQ(p->f_min->GetValue(), 1000);
        EXPECT_EQ(p->f_max->GetValue(), 8500);
    }
    {
        CliOptions o;  // f_max is set while eas is still off; the cutoff then pushes it up
        o.f_max = 2000;
        o.eas = true;
        o.cutoff_freq = 3000;
        EXPECT_EQ(Build(o)->f_max->GetValue(), 3000);
        o.cutoff_freq = 1500;
        EXPECT_EQ(Build(o)->f_max->GetValue(), 2000);
    }
    {
        CliOptions o;  // n_on is set after n_inserted_ch, against its stored bound only
        o.n_inserted_ch = 4;
        o.n_on = 10;
        const std::unique_ptr<Parameters> p = Build(o);
        EXPECT_EQ(p->n_inserted_ch->GetValue(), 4u);
        EXPECT_EQ(p->n_on->GetValue(), 10u);
    }
}

}  // namespace
