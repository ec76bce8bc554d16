#pragma once

#include "signal/Signal.h"
#include "signal/SignalVector.h"

// The processing interfaces that are called through: a channel's envelope detector (the
// analyzer holds either kind) and a generator. Every Run/Generate returns a new object owned by
// the caller and leaves its argument untouched.

class EnvelopeDetector {
public:
    virtual Signal* Run(Signal* input) = 0;
    virtual ~EnvelopeDetector() = default;
};

class SignalGenerator {
public:
    virtual Signal* Generate() = 0;

protected:
    ~SignalGenerator() = default;
};
