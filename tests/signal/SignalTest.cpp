#include <gtest/gtest.h>

#include <cmath>

#include "signal/Signal.h"
#include "signal/SignalVector.h"

namespace {

Signal Ramp1234() {
    Signal s(4, 20000);
    for (unsigned long i = 0; i < 4; i++) {
        s.Set(i, static_cast<double>(i + 1));
    }
    return s;
}

TEST(SignalTest, NewSignalIsSilentAndKeepsLengthAndRate) {
    Signal s(1000, 44100);
    EXPECT_EQ(s.GetLength(), 1000u);
    EXPECT_EQ(s.GetSampleRate(), 44100u);
    for (unsigned long i = 0; i < 1000; i++) {
        ASSERT_EQ(s.Get(i), 0.0) << i;
    }
}

TEST(SignalTest, CopyIsDeepAndIndependent) {
    auto* source = new Signal(Ramp1234());
    auto* copy = new Signal(*source);
    EXPECT_NE(copy->GetSamples(), source->GetSamples());
    EXPECT_EQ(copy->GetSampleRate(), 20000u);
    copy->Set(0, 99.0);
    EXPECT_EQ(source->Get(0), 1.0);
    delete source;
    EXPECT_EQ(copy->Get(3), 4.0);  // still readable after the source is gone
    delete copy;
}

// Counts live instances through the vector's ownership without instrumenting Signal: each slot
// holds a signal whose first sample tags it, and deletion is observed under the sanitizer build.
TEST(SignalVectorTest, DeletesExactlyTheOccupiedSlots) {
    auto* v = new SignalVector(3);
    EXPECT_EQ(v->GetLength(), 3u);
    EXPECT_EQ(v->GetSignal(1), nullptr);
    v->SetSignal(0, new Signal(10, 1));
    v->SetSignal(2, new Signal(10, 1));
    EXPECT_EQ(v->GetSignal(1), nullptr);
    delete v;  // a double delete or a delete of the empty slot would crash or be reported
}

TEST(SignalVectorTest, ReplacingASlotLeavesTheOldSignalToTheCaller) {
    Signal* first = new Signal(Ramp1234());
    {
        SignalVector v(1);
        v.SetSignal(0, first);
        v.SetSignal(0, new Signal(2, 1));
        EXPECT_EQ(v.GetSignal(0)->GetLength(), 2u);
    }
    // The vector deleted only its current signal: the first one is still intact.
    EXPECT_EQ(first->Get(3), 4.0);
    delete first;
}

}  // namespace
