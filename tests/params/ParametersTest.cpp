#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "params/ExpectSameValues.h"
#include "params/Parameters.h"

namespace {

std::vector<Parameter*> Members(const Parameters& p) {
    return {
        p.rate,          p.f_min,       p.f_max,          p.length_ci,          p.n_chan_ci,
        p.n_inserted_ch, p.n_on,        p.interact_decay, p.envelope_detection, p.synchronization,
        p.eas,           p.cutoff_freq, p.freq_shift};
}

void ExpectMembersPointTo(const Parameters& p) {
    for (Parameter* m : Members(p)) {
        EXPECT_EQ(m->GetParameters(), &p);
    }
}

// A parameter set differing from the defaults in every member.
void SetNonDefaults(Parameters& p) {
    ASSERT_TRUE(p.rate->SetValue(900));
    ASSERT_TRUE(p.f_min->SetValue(400));
    ASSERT_TRUE(p.f_max->SetValue(7000));
    ASSERT_TRUE(p.length_ci->SetValue(20));
    ASSERT_TRUE(p.n_chan_ci->SetValue(10));
    ASSERT_TRUE(p.n_inserted_ch->SetValue(9));
    ASSERT_TRUE(p.n_on->SetValue(4));
    ASSERT_TRUE(p.interact_decay->SetValue(1.5));
    ASSERT_TRUE(p.envelope_detection->SetValue(1));
    ASSERT_TRUE(p.synchronization->SetValue(0.25));
    ASSERT_TRUE(p.eas->SetValue(true));
    ASSERT_TRUE(p.cutoff_freq->SetValue(1200));
    ASSERT_TRUE(p.freq_shift->SetValue(true));
}

TEST(ParametersTest, DefaultMembersPointToTheirOwner) {
    Parameters p;
    ExpectMembersPointTo(p);
    EXPECT_EQ(p.f_max->GetMin(), 500);
}

TEST(ParametersCopyTest, CopyHasOwnMembersWithTheSourceValues) {
    Parameters source;
    SetNonDefaults(source);
    const Parameters copy(source);
    ExpectSameValues(copy, source);
    ExpectMembersPointTo(copy);
    ExpectMembersPointTo(source);
    const std::vector<Parameter*> mine = Members(copy), theirs = Members(source);
    for (size_t i = 0; i < mine.size(); i++) {
        EXPECT_NE(mine[i], theirs[i]) << i;
    }
}

TEST(ParametersCopyTest, CascadeOnTheCopyStaysInTheCopy) {
    Parameters source;
    Parameters copy(source);
    ASSERT_TRUE(copy.n_chan_ci->SetValue(8));
    EXPECT_EQ(copy.n_inserted_ch->GetValue(), 8u);
    EXPECT_EQ(copy.n_on->GetValue(), 8u);
    ASSERT_TRUE(copy.f_max->SetValue(1000));
    ASSERT_TRUE(copy.f_min->SetValue(2500));
    EXPECT_EQ(copy.f_max->GetValue(), 2500);

    ExpectSameValues(source, Parameters());
}

TEST(ParametersCopyTest, CopiesDependentBoundsFromTheirOwnSiblings) {
    Parameters source;
    Parameters copy(source);
    ASSERT_TRUE(source.f_min->SetValue(3000));
    EXPECT_EQ(copy.f_max->GetMin(), 500);
    EXPECT_TRUE(copy.f_max->SetValue(1000));
    EXPECT_EQ(source.f_max->GetValue(), 8500);
}

TEST(ParametersAssignTest, TakesValuesKeepsMemberObjectsAndRepoints) {
    Parameters source;
    SetNonDefaults(source);
    Parameters target;
    const std::vector<Parameter*> before = Members(target);

    Parameters& result = (target = source);
    EXPECT_EQ(&result, &target);
    ExpectSameValues(target, source);
    EXPECT_EQ(Members(target), before);
    ExpectMembersPointTo(target);
    ExpectMembersPointTo(source);

    ASSERT_TRUE(target.n_chan_ci->SetValue(3));
    EXPECT_EQ(target.n_inserted_ch->GetValue(), 3u);
    EXPECT_EQ(target.n_on->GetValue(), 3u);
    EXPECT_EQ(source.n_chan_ci->GetValue(), 10u);
    EXPECT_EQ(source.n_inserted_ch->GetValue(), 9u);
    EXPECT_EQ(source.n_on->GetValue(), 4u);
}

TEST(ParametersAssignTest, SelfAssignmentKeepsValuesAndRepairsBackPointers) {
    Parameters p;
    SetNonDefaults(p);
    Parameters expected(p);
    Parameters stranger;
    p.n_on->SetParameters(&stranger);
    p.f_min->SetParameters(&stranger);

    Parameters& alias = p;
    Parameters& result = (p = alias);
    EXPECT_EQ(&result, &p);
    ExpectSameValues(p, expected);
    ExpectMembersPointTo(p);
}

}  // namespace
