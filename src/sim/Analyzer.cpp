#include "sim/Analyzer.h"

#include "dsp/HilbertFIR_Detector.h"
#include "dsp/RectLP_IIR_Detector.h"
#include "params/Parameters.h"
#include "sim/BandLayout.h"

Analyzer::Analyzer(Parameters* parameters, unsigned long sampleRate)
    : parameters(parameters), sampleRate(static_cast<uint32_t>(sampleRate)) {
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
    smoothingFilter.reset(new LP_FilterIIR(2, static_cast<double>(this->sampleRate),
                                           parameters->rate->GetValue() / 2.4));
}

// The envelopes are not the analyzer's once Run has handed them over (then the pointer is
// already null); before that they are still its own and go with it.
Analyzer::~Analyzer() = default;

void Analyzer::CalculateFiltersFreq() {
    // Under electro-acoustic stimulation the hearing aid covers the range below the cutoff.
    const double fLow = parameters->eas->GetValue() ? parameters->cutoff_freq->GetValue()
                                                    : parameters->f_min->GetValue();
    CalculateBandLayout(fLow, parameters->f_max->GetValue(), static_cast<int>(ChannelCount()),
                        lowFreq.get(), highFreq.get(), centerFreq.get(), bandwidth.get());
}

void Analyzer::ReplaceEnvelope(uint32_t i, Signal* s) {
    std::unique_ptr<Signal> old(envelopes->GetSignal(i));
    envelopes->SetSignal(i, s);
}

void Analyzer::SmoothEnvelope(uint32_t i) {
    ReplaceEnvelope(i, smoothingFilter->Run(envelopes->GetSignal(i)));
}

SignalVector* Analyzer::Run(Signal* input) {
    const uint32_t n = ChannelCount();
    envelopes.reset(new SignalVector(n));
    // Each band envelope is smoothed as soon as it exists, so only one raw envelope is alive.
    for (uint32_t i = 0; i < n; i++) {
        std::unique_ptr<Signal> raw(detectors[i]
                                        ? detectors[i]->Run(input)
                                        : new Signal(input->GetLength(), input->GetSampleRate()));
        envelopes->SetSignal(i, smoothingFilter->Run(raw.get()));
    }
    N_of_M();
    for (uint32_t i = 0; i < n; i++) {
        SmoothEnvelope(i);
    }
    InteractionChannels();
    return envelopes.release();
}
