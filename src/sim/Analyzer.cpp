#include "sim/Analyzer.h"

#include <algorithm>

#include "dsp/HilbertFIR_Detector.h"
#include "dsp/Parallel.h"
#include "dsp/RectLP_IIR_Detector.h"
#include "params/Parameters.h"
#include "sim/BandLayout.h"
#include "stages/Plan.h"
#include "stages/Smoothing.h"

Analyzer::Analyzer(Parameters* parameters, unsigned long sampleRate)
    : parameters(parameters),
      sampleRate(static_cast<uint32_t>(sampleRate)),
      threads(parallel::DefaultThreadCount()) {
    const uint32_t n = parameters->n_inserted_ch->GetValue();
    detectors.resize(n);
    envelopes.reset(new SignalVector(n));
    lowFreq.reset(new double[n]);
    highFreq.reset(new double[n]);
    centerFreq.reset(new double[n]);
    bandwidth.reset(new double[n]);

    CalculateFiltersFreq();

    const uint32_t method = parameters->envelope_detection->GetValue();
    for (uint32_t i = 0; i < n; i++) {
        if (method == 0) {
            detectors[i].reset(
                new HilbertFIR_Detector(bandwidth[i], centerFreq[i], this->sampleRate));
        } else if (method == 1) {
            detectors[i].reset(new RectLP_IIR_Detector(lowFreq[i], highFreq[i], this->sampleRate));
        }
    }
    // One filter serves every channel and both passes: an IIR run starts from rest each time.
    smoothingFilter = stages::SmoothingFilter(this->sampleRate, parameters->rate->GetValue());
}

// The envelopes are not the analyzer's once Run has handed them over (then the pointer is
// already null); before that they are still its own and go with it.
Analyzer::~Analyzer() = default;

void Analyzer::CalculateFiltersFreq() {
    CalculateBandLayout(ImplantLowFrequency(parameters), parameters->f_max->GetValue(),
                        static_cast<int>(ChannelCount()), lowFreq.get(), highFreq.get(),
                        centerFreq.get(), bandwidth.get());
}

stages::Plan Analyzer::StagePlan() {
    stages::Plan plan;
    plan.channels = ChannelCount();
    plan.smoothing.a.assign(smoothingFilter->GetA(),
                            smoothingFilter->GetA() + smoothingFilter->GetNumCoeffs());
    plan.smoothing.b.assign(smoothingFilter->GetB(),
                            smoothingFilter->GetB() + smoothingFilter->GetNumCoeffs());
    plan.weights = InteractionWeights();
    return plan;
}

void Analyzer::SmoothEnvelopes() {
    // The smoothing stage over the whole envelopes, in place, as one block; groups of eight
    // channels (one vector register's lanes) go to the threads.
    const uint32_t n = ChannelCount();
    std::vector<double*> channels(n);
    for (uint32_t i = 0; i < n; i++) {
        channels[i] = envelopes->GetSignal(i)->GetSamples();
    }
    const stages::Plan plan = StagePlan();
    stages::Smoothing smoothing(plan);
    const uint32_t group = 8;
    const uint32_t length = envelopes->GetSignal(0)->GetLength();
    Loop((n + group - 1) / group, [&](uint32_t g) {
        const uint32_t first = g * group;
        smoothing.Process(channels.data(), first, std::min(group, n - first), length, 0);
    });
}

SignalVector* Analyzer::Run(Signal* input) {
    const uint32_t n = ChannelCount();
    parallel::Team own(threads);
    team = &own;
    struct Done {  // also when a step throws
        parallel::Team*& team;
        ~Done() { team = nullptr; }
    } done{team};
    envelopes.reset(new SignalVector(n));
    Loop(n, [&](uint32_t i) {
        envelopes->SetSignal(i, detectors[i]
                                    ? detectors[i]->Run(input)
                                    : new Signal(input->GetLength(), input->GetSampleRate()));
    });
    SmoothEnvelopes();
    N_of_M();
    SmoothEnvelopes();
    InteractionChannels();
    return envelopes.release();
}
