#pragma once

#include <gtest/gtest.h>

#include "params/Parameters.h"

// Expects every member of `a` to hold the value of the same member of `b`.
inline void ExpectSameValues(const Parameters& a, const Parameters& b) {
    EXPECT_EQ(a.rate->GetValue(), b.rate->GetValue());
    EXPECT_EQ(a.f_min->GetValue(), b.f_min->GetValue());
    EXPECT_EQ(a.f_max->GetValue(), b.f_max->GetValue());
    EXPECT_EQ(a.length_ci->GetValue(), b.length_ci->GetValue());
    EXPECT_EQ(a.n_chan_ci->GetValue(), b.n_chan_ci->GetValue());
    EXPECT_EQ(a.n_inserted_ch->GetValue(), b.n_inserted_ch->GetValue());
    EXPECT_EQ(a.n_on->GetValue(), b.n_on->GetValue());
    EXPECT_EQ(a.interact_decay->GetValue(), b.interact_decay->GetValue());
    EXPECT_EQ(a.envelope_detection->GetValue(), b.envelope_detection->GetValue());
    EXPECT_EQ(a.synchronization->GetValue(), b.synchronization->GetValue());
    EXPECT_EQ(a.eas->GetValue(), b.eas->GetValue());
    EXPECT_EQ(a.cutoff_freq->GetValue(), b.cutoff_freq->GetValue());
    EXPECT_EQ(a.freq_shift->GetValue(), b.freq_shift->GetValue());
}
