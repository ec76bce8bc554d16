#include "sim/Simulator.h"

Simulator::Simulator(Parameters* parameters, unsigned long sampleRate)
    : parameters(parameters),
      analyzer(new Analyzer(parameters, sampleRate)),
      synthesizer(new Synthesizer(parameters, sampleRate)) {}

Simulator::~Simulator() {
    analyzer.reset();
    synthesizer.reset();
}

Signal* Simulator::Run(Signal* input) {
    // The analyzer hands its envelopes over; they go as soon as the synthesis has used them.
    std::unique_ptr<SignalVector> envelopes(analyzer->Run(input));
    return synthesizer->Run(envelopes.get(), input);
}
