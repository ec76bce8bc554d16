#pragma once

#include <cstdint>
#include <vector>

#include "signal/Signal.h"

// A fixed number of slots, one signal per implant channel. The vector owns every signal stored
// in it; replacing an occupied slot hands the old signal back to the caller's care.
class SignalVector {
public:
    explicit SignalVector(unsigned long length);
    SignalVector(const SignalVector&) = delete;
    SignalVector& operator=(const SignalVector&) = delete;
    ~SignalVector();

    // Unchecked: callers keep index < GetLength().
    Signal* GetSignal(unsigned long index) const { return signals[index]; }
    void SetSignal(unsigned long index, Signal* signal) { signals[index] = signal; }
    uint32_t GetLength() const { return length; }

private:
    uint32_t length;
    std::vector<Signal*> signals;
};
