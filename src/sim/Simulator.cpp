#include "sim/Simulator.h"

Simulator::Simulator(Parameters* parameters, unsigned long sampleRate)
    : Simulator(parameters, sampleRate, nullptr) {}

Simulator::Simulator(Parameters* parameters, unsigned long sampleRate, RandomState* random)
    : parameters(parameters),
      analyzer(new Analyzer(parameters, sampleRate)),
      synthesizer(new Synthesizer(parameters, sampleRate, random)) {}

Simulator::~Simulator() {
    analyzer.reset();
    synthesizer.reset();
}

Signal* Simulator::Run(Signal* input) {
    // The analyzer hands its envelopes over; they go as soon as the synthesis has used them.
    std::unique_ptr<SignalVector> envelopes(analyzer->Run(input));
    if (envelopeObserver) {
        envelopeObserver(*envelopes, envelopeContext);
    }
    return synthesizer->Run(envelopes.get(), input);
}
