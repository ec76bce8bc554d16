#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "params/Parameters.h"

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();

struct DoubleBounds {
    const char* name;
    ParameterDouble* (*member)(Parameters&);
    double value, min, max;
};

// Each double member with its default and the bounds it enforces in a default parameter set
// (for f_max the lower bound is the stored 500, larger than f_min's 300).
const DoubleBounds doubleMembers[] = {
    {"rate", [](Parameters& p) -> ParameterDouble* { return p.rate; }, 1800, 10, 10000},
    {"f_min", [](Parameters& p) -> ParameterDouble* { return p.f_min; }, 300, 20, 5000},
    {"f_max", [](Parameters& p) -> ParameterDouble* { return p.f_max; }, 8500, 500, 10000},
    {"length_ci", [](Parameters& p) -> ParameterDouble* { return p.length_ci; }, 30, 1, 30},
    {"interact_decay", [](Parameters& p) -> ParameterDouble* { return p.interact_decay; }, 2,
     0.0001, 100},
    {"synchronization", [](Parameters& p) -> ParameterDouble* { return p.synchronization; }, 1, 0,
     1},
    {"cutoff_freq", [](Parameters& p) -> ParameterDouble* { return p.cutoff_freq; }, 2000, 20,
     5000},
};

struct UnsignedBounds {
    const char* name;
    ParameterUnsigned* (*member)(Parameters&);
    unsigned value, min, max;
};

const UnsignedBounds unsignedMembers[] = {
    {"n_chan_ci", [](Parameters& p) -> ParameterUnsigned* { return p.n_chan_ci; }, 12, 1, 50},
    {"n_inserted_ch", [](Parameters& p) -> ParameterUnsigned* { return p.n_inserted_ch; }, 12, 1,
     50},
    {"n_on", [](Parameters& p) -> ParameterUnsigned* { return p.n_on; }, 12, 1, 50},
    {"envelope_detection", [](Parameters& p) -> ParameterUnsigned* { return p.envelope_detection; },
     0, 0, 1},
};

TEST(ParameterBoundsTest, DefaultsAndReportedBounds) {
    Parameters p;
    for (const DoubleBounds& m : doubleMembers) {
        SCOPED_TRACE(m.name);
        EXPECT_EQ(m.member(p)->GetValue(), m.value);
        EXPECT_EQ(m.member(p)->GetMin(), m.min);
        EXPECT_EQ(m.member(p)->GetMax(), m.max);
    }
    for (const UnsignedBounds& m : unsignedMembers) {
        SCOPED_TRACE(m.name);
        EXPECT_EQ(m.member(p)->GetValue(), m.value);
        EXPECT_EQ(m.member(p)->GetMin(), m.min);
    }
    EXPECT_EQ(p.n_chan_ci->GetMax(), 50u);
    EXPECT_EQ(p.envelope_detection->GetMax(), 1u);
    EXPECT_FALSE(p.eas->GetValue());
    EXPECT_FALSE(p.freq_shift->GetValue());
}

TEST(ParameterBoundsTest, DoubleMembersAdmitTheirBoundsAndRefuseBeyondThem) {
    for (const DoubleBounds& m : doubleMembers) {
        SCOPED_TRACE(m.name);
        const double refused[] = {std::nextafter(m.min, -HUGE_VAL), std::nextafter(m.max, HUGE_VAL),
                                  nan, -HUGE_VAL, HUGE_VAL};
        for (double v : refused) {
            Parameters p;
            EXPECT_FALSE(m.member(p)->SetValue(v)) << v;
            EXPECT_EQ(m.member(p)->GetValue(), m.value) << v;
        }
        for (double v : {m.min, m.max}) {
            Parameters p;
            EXPECT_TRUE(m.member(p)->SetValue(v)) << v;
            EXPECT_EQ(m.member(p)->GetValue(), v);
        }
    }
}

TEST(ParameterBoundsTest, UnsignedMembersCheckTheirStoredBounds) {
    for (const UnsignedBounds& m : unsignedMembers) {
        SCOPED_TRACE(m.name);
        // With a minimum of 0, m.min - 1 wraps round to the largest unsigned: refused as well.
        for (unsigned v : {m.min - 1, m.max + 1, std::numeric_limits<unsigned>::max()}) {
            Parameters p;
            EXPECT_FALSE(m.member(p)->SetValue(v)) << v;
            EXPECT_EQ(m.member(p)->GetValue(), m.value) << v;
        }
        for (unsigned v : {m.min, m.max}) {
            Parameters p;
            EXPECT_TRUE(m.member(p)->SetValue(v)) << v;
            EXPECT_EQ(m.member(p)->GetValue(), v);
        }
    }
}

TEST(ParameterBoundsTest, BooleansAlwaysAcceptAValue) {
    Parameters p;
    for (ParameterBool* b : {p.eas, p.freq_shift}) {
        EXPECT_TRUE(b->SetValue(true));
        EXPECT_TRUE(b->GetValue());
        EXPECT_TRUE(b->SetValue(true));
        EXPECT_TRUE(b->SetValue(false));
        EXPECT_FALSE(b->GetValue());
    }
}

TEST(SpectralRangeTest, FmaxMayNotFallBelowFmin) {
    Parameters p;
    EXPECT_TRUE(p.f_min->SetValue(1000));
    EXPECT_EQ(p.f_max->GetMin(), 1000);
    EXPECT_FALSE(p.f_max->SetValue(800));
    EXPECT_EQ(p.f_max->GetValue(), 8500);
    EXPECT_TRUE(p.f_max->SetValue(1000));
    EXPECT_EQ(p.f_max->GetValue(), 1000);
}

TEST(SpectralRangeTest, RefusedFminChangesNothing) {
    Parameters p;
    EXPECT_FALSE(p.f_min->SetValue(6000));
    EXPECT_FALSE(p.f_min->SetValue(nan));
    EXPECT_EQ(p.f_min->GetValue(), 300);
    EXPECT_EQ(p.f_max->GetValue(), 8500);
    ASSERT_TRUE(p.f_max->SetValue(1000));
    EXPECT_FALSE(p.f_min->SetValue(19));
    EXPECT_EQ(p.f_max->GetValue(), 1000);
}

TEST(SpectralRangeTest, RaisingFminOrCutoffPushesFmaxUp) {
    Parameters p;
    ASSERT_TRUE(p.f_max->SetValue(2000));
    EXPECT_TRUE(p.f_min->SetValue(4000));
    EXPECT_EQ(p.f_max->GetValue(), 4000);
    EXPECT_TRUE(p.f_min->SetValue(1000));  // nothing lowers f_max again
    EXPECT_EQ(p.f_max->GetValue(), 4000);

    // The cutoff pushes f_max whether or not electro-acoustic stimulation is on.
    EXPECT_FALSE(p.eas->GetValue());
    EXPECT_TRUE(p.cutoff_freq->SetValue(4500));
    EXPECT_EQ(p.f_max->GetValue(), 4500);
    EXPECT_FALSE(p.cutoff_freq->SetValue(6000));
    EXPECT_EQ(p.f_max->GetValue(), 4500);
    EXPECT_EQ(p.cutoff_freq->GetValue(), 4500);
}

TEST(SpectralRangeTest, CutoffSetAfterEasRaisesFmaxExactlyToItself) {
    Parameters p;
    EXPECT_TRUE(p.f_max->SetValue(2000));
    EXPECT_TRUE(p.eas->SetValue(true));
    EXPECT_TRUE(p.cutoff_freq->SetValue(3000));
    EXPECT_EQ(p.f_max->GetValue(), 3000);
    EXPECT_EQ(p.f_max->GetMin(), 3000);
}

TEST(SpectralRangeTest, UnderEasFmaxMayNotFallBelowCutoff) {
    Parameters p;
    ASSERT_TRUE(p.eas->SetValue(true));
    ASSERT_TRUE(p.cutoff_freq->SetValue(4000));
    EXPECT_EQ(p.f_max->GetMin(), 4000);
    EXPECT_FALSE(p.f_max->SetValue(3000));
    EXPECT_EQ(p.f_max->GetValue(), 8500);

    // The bound follows eas and the two edges at the moment it is asked for.
    ASSERT_TRUE(p.eas->SetValue(false));
    EXPECT_EQ(p.f_max->GetMin(), 500);
    EXPECT_TRUE(p.f_max->SetValue(3000));
}

TEST(SpectralRangeTest, FmaxRefusingThePushStillLetsFminChange) {
    Parameters p;
    ASSERT_TRUE(p.f_max->SetValue(1000));  // below the cutoff's 2000 while eas is off
    ASSERT_TRUE(p.eas->SetValue(true));
    EXPECT_TRUE(p.f_min->SetValue(1500));  // f_max refuses 1500: its bound is now 2000
    EXPECT_EQ(p.f_min->GetValue(), 1500);
    EXPECT_EQ(p.f_max->GetValue(), 1000);
}

TEST(ChannelCountTest, LoweringNChanCiCascadesDown) {
    Parameters p;
    EXPECT_TRUE(p.n_chan_ci->SetValue(8));
    EXPECT_EQ(p.n_chan_ci->GetValue(), 8u);
    EXPECT_EQ(p.n_inserted_ch->GetValue(), 8u);
    EXPECT_EQ(p.n_on->GetValue(), 8u);

    // A count already below the new cap is left alone, and nothing raises a count again.
    ASSERT_TRUE(p.n_on->SetValue(3));
    EXPECT_TRUE(p.n_chan_ci->SetValue(5));
    EXPECT_EQ(p.n_inserted_ch->GetValue(), 5u);
    EXPECT_EQ(p.n_on->GetValue(), 3u);
    EXPECT_TRUE(p.n_chan_ci->SetValue(40));
    EXPECT_EQ(p.n_inserted_ch->GetValue(), 5u);
    EXPECT_EQ(p.n_on->GetValue(), 3u);
}

TEST(ChannelCountTest, DependentCountsAreCheckedOnlyAgainstStoredBounds) {
    Parameters p;
    EXPECT_TRUE(p.n_inserted_ch->SetValue(6));
    EXPECT_EQ(p.n_on->GetValue(), 6u);
    EXPECT_TRUE(p.n_on->SetValue(10));
    EXPECT_EQ(p.n_on->GetValue(), 10u);
    EXPECT_EQ(p.n_on->GetMax(), 6u);

    EXPECT_TRUE(p.n_inserted_ch->SetValue(20));
    EXPECT_EQ(p.n_inserted_ch->GetValue(), 20u);
    EXPECT_EQ(p.n_inserted_ch->GetMax(), 12u);
    EXPECT_EQ(p.n_on->GetValue(), 10u);
}

TEST(ChannelCountTest, RefusedNChanCiStillBringsInsertedCountInOrder) {
    Parameters p;
    EXPECT_FALSE(p.n_chan_ci->SetValue(0));
    EXPECT_FALSE(p.n_chan_ci->SetValue(51));
    EXPECT_EQ(p.n_chan_ci->GetValue(), 12u);
    EXPECT_EQ(p.n_inserted_ch->GetValue(), 12u);
    EXPECT_EQ(p.n_on->GetValue(), 12u);

    ASSERT_TRUE(p.n_inserted_ch->SetValue(20));
    EXPECT_FALSE(p.n_chan_ci->SetValue(51));
    EXPECT_EQ(p.n_chan_ci->GetValue(), 12u);
    EXPECT_EQ(p.n_inserted_ch->GetValue(), 12u);
}

TEST(ChannelCountTest, RefusedNInsertedChStillBringsNOnInOrder) {
    Parameters p;
    ASSERT_TRUE(p.n_on->SetValue(30));
    EXPECT_FALSE(p.n_inserted_ch->SetValue(0));
    EXPECT_EQ(p.n_inserted_ch->GetValue(), 12u);
    EXPECT_EQ(p.n_on->GetValue(), 12u);
}

TEST(ParameterCopyTest, CopiesValueBoundsAndBackPointer) {
    Parameters owner;
    ParameterDouble source(&owner, 5, 1, 7);
    ParameterDouble copy(source);
    EXPECT_EQ(copy.GetValue(), 5);
    EXPECT_EQ(copy.GetMin(), 1);
    EXPECT_EQ(copy.GetMax(), 7);
    EXPECT_EQ(copy.GetParameters(), &owner);

    ParameterUnsigned target(nullptr, 0, 0, 0);
    target = ParameterUnsigned(&owner, 3, 2, 9);
    EXPECT_EQ(target.GetValue(), 3u);
    EXPECT_EQ(target.GetMin(), 2u);
    EXPECT_EQ(target.GetMax(), 9u);
    EXPECT_EQ(target.GetParameters(), &owner);
}

}  // namespace
