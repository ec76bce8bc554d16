#pragma once

#include <memory>

#include "signal/DSP.h"
#include "sim/Analyzer.h"
#include "sim/Synthesizer.h"

class Parameters;
struct RandomState;

// The whole implant simulation as one block: the analyzer's coding strategy followed by the
// synthesizer's resynthesis. The parameters are borrowed and must outlive the simulator.
class Simulator {
public:
    // The noise continues a sequence of the simulator's own (from a fresh state), or the state
    // given (borrowed).
    Simulator(Parameters* parameters, unsigned long sampleRate);
    Simulator(Parameters* parameters, unsigned long sampleRate, RandomState* random);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    virtual ~Simulator();

    // Returns what the implant user hears of input: a new signal of input's length, owned by
    // the caller.
    Signal* Run(Signal* input);

    // The threads of both stages (see Analyzer::SetThreads); the output does not depend on it.
    void SetThreads(unsigned count) {
        analyzer->SetThreads(count);
        synthesizer->SetThreads(count);
    }

    Analyzer* GetAnalyzer() const { return analyzer.get(); }
    Synthesizer* GetSynthesizer() const { return synthesizer.get(); }
    // Called with the final envelopes between the analysis and the synthesis (null: not called).
    void SetEnvelopeObserver(void (*observer)(const SignalVector&, void*), void* context) {
        envelopeObserver = observer;
        envelopeContext = context;
    }

private:
    // Borrowed for the simulator's lifetime; only the two stages read it.
    [[maybe_unused]] Parameters* parameters;
    std::unique_ptr<Analyzer> analyzer;
    std::unique_ptr<Synthesizer> synthesizer;
    void (*envelopeObserver)(const SignalVector&, void*) = nullptr;
    void* envelopeContext = nullptr;
};
