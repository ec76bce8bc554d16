#pragma once

#include "signal/Signal.h"
#include "signal/SignalVector.h"

// The processing interfaces. Every Run/Generate returns a new object owned by the caller and
// leaves its argument untouched. Only EnvelopeDetector has a virtual destructor here: blocks are
// deleted through their own class or through a class that declares one.

class DSP {};

class SimpleDSP : public DSP {
public:
    virtual Signal* Run(Signal* input) = 0;

protected:
    ~SimpleDSP() = default;
};

class MultipleOutputDSP : public DSP {
public:
    virtual SignalVector* Run(Signal* input) = 0;

protected:
    ~MultipleOutputDSP() = default;
};

class Filter : public SimpleDSP {
protected:
    ~Filter() = default;
};

class EnvelopeDetector : public SimpleDSP {
public:
    virtual ~EnvelopeDetector() = default;
};

class SignalGenerator {
public:
    virtual Signal* Generate() = 0;

protected:
    ~SignalGenerator() = default;
};
