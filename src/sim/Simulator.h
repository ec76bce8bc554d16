#pragma once

#include <memory>

#include "signal/DSP.h"
#include "sim/Analyzer.h"
#include "sim/Synthesizer.h"

class Parameters;

// The whole implant simulation as one block: the analyzer's coding strategy followed by the
// synthesizer's resynthesis. The parameters are borrowed and must outlive the simulator.
class Simulator : public SimpleDSP {
public:
    Simulator(Parameters* parameters, unsigned long sampleRate);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    virtual ~Simulator();

    // Returns what the implant user hears of input: a new signal of input's length, owned by
    // the caller.
    Signal* Run(Signal* input) override;

private:
    // Borrowed for the simulator's lifetime; only the two stages read it.
    [[maybe_unused]] Parameters* parameters;
    std::unique_ptr<Analyzer> analyzer;
    std::unique_ptr<Synthesizer> synthesizer;
};
