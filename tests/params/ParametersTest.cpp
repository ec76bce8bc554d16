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

TEST(InterpolateParameterTest, OneInsertedChannelGivesTheMean) {
    Parameters p;
    ASSERT_TRUE(p.n_inserted_ch->SetValue(1));
    for (unsigned i : {0u, 1u, 7u, 4000000000u}) {
        EXPECT_EQ(p.InterpolateParameter(i, 10.0, 4.0), 7.0) << i;
    }
}

TEST(InterpolateParameterTest, RunsFromBAtFirstChannelToAAtLast) {
    Parameters p;  // 12 inserted channels
    const double a = 8000.0, b = 350.0;
    EXPECT_EQ(p.InterpolateParameter(0, a, b), b);
    EXPECT_DOUBLE_EQ(p.InterpolateParameter(11, a, b), a);
    EXPECT_DOUBLE_EQ(p.InterpolateParameter(5, a, b), b + 5 * (a - b) / 11);
    EXPECT_DOUBLE_EQ(p.InterpolateParameter(22, a, b), 2 * a - b);  // extrapolates on the line
    // The index is unsigned: a large one lies far along the line, not before its start.
    EXPECT_DOUBLE_EQ(p.InterpolateParameter(4000000000u, 11.0, 0.0), 4e9);

    ASSERT_TRUE(p.n_inserted_ch->SetValue(2));
    EXPECT_EQ(p.InterpolateParameter(1, a, b), a);
}

TEST(ParametersTextTest, EnvelopeDetection) {
    Parameters p;
    EXPECT_STREQ(p.GetTextEnvelopeDetection(), "Hilbert + FIR");
    ASSERT_TRUE(p.envelope_detection->SetValue(1));
    EXPECT_STREQ(p.GetTextEnvelopeDetection(), "Rect-LP + IIR");
    EXPECT_FALSE(p.envelope_detection->SetValue(2));
    EXPECT_STREQ(p.GetTextEnvelopeDetection(), "Rect-LP + IIR");
}

TEST(ParametersTextTest, EasAndFrequencyShiftFollowTheirOwnMember) {
    const std::string yes = "S\xEF\xBF\xBD";
    ASSERT_EQ(yes.size(), 4u);
    Parameters p;
    EXPECT_STREQ(p.GetTextEAS(), "No");
    EXPECT_STREQ(p.GetTextFrequencyShift(), "No");
    ASSERT_TRUE(p.eas->SetValue(true));
    EXPECT_EQ(std::string(p.GetTextEAS()), yes);
    EXPECT_STREQ(p.GetTextFrequencyShift(), "No");
    ASSERT_TRUE(p.eas->SetValue(false));
    ASSERT_TRUE(p.freq_shift->SetValue(true));
    EXPECT_STREQ(p.GetTextEAS(), "No");
    EXPECT_EQ(std::string(p.GetTextFrequencyShift()), yes);
}

}  // namespace
