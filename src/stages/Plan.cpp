#include "stages/Plan.h"

#include <algorithm>
#include <memory>

#include "dsp/FilterFIR.h"
#include "dsp/FilterIIR.h"
#include "dsp/RectLP_IIR_Detector.h"
#include "params/Parameters.h"
#include "sim/BandLayout.h"

namespace stages {
namespace {

Recursive Coefficients(const FilterIIR& f) {
    const uint32_t n = f.GetNumCoeffs();
    return {std::vector<double>(f.GetA(), f.GetA() + n),
            std::vector<double>(f.GetB(), f.GetB() + n)};
}

Taps Coefficients(const FilterFIR& f) {
    Taps taps;
    std::copy(f.GetCoeffs(), f.GetCoeffs() + kTaps, taps.begin());
    return taps;
}

Bands Layout(double fLow, double fHigh, uint32_t n) {
    Bands b;
    b.low.resize(n);
    b.high.resize(n);
    b.center.resize(n);
    b.width.resize(n);
    CalculateBandLayout(fLow, fHigh, static_cast<int>(n), b.low.data(), b.high.data(),
                        b.center.data(), b.width.data());
    return b;
}

cihear::Settings Read(const Parameters& p) {
    cihear::Settings s;
    s.rate = p.rate->GetValue();
    s.f_min = p.f_min->GetValue();
    s.f_max = p.f_max->GetValue();
    s.length_ci = p.length_ci->GetValue();
    s.n_chan_ci = p.n_chan_ci->GetValue();
    s.n_inserted_ch = p.n_inserted_ch->GetValue();
    s.n_on = p.n_on->GetValue();
    s.interact_decay = p.interact_decay->GetValue();
    s.envelope_detection = p.envelope_detection->GetValue();
    s.synchronization = p.synchronization->GetValue();
    s.eas = p.eas->GetValue();
    s.cutoff_freq = p.cutoff_freq->GetValue();
    s.freq_shift = p.freq_shift->GetValue();
    return s;
}

// The detectors' filters, designed by the detectors themselves.
void DesignDetection(Plan& plan) {
    for (uint32_t i = 0; i < plan.channels; i++) {
        if (plan.detection == 0) {
            plan.detectSin.push_back(Coefficients(FilterHilbertSin(
                plan.analysis.width[i], plan.analysis.center[i], plan.sampleRate)));
            plan.detectCos.push_back(Coefficients(FilterHilbertCos(
                plan.analysis.width[i], plan.analysis.center[i], plan.sampleRate)));
        } else if (plan.detection == 1) {
            const RectLP_IIR_Detector d(plan.analysis.low[i], plan.analysis.high[i],
                                        plan.sampleRate);
            plan.bandPass.push_back(Coefficients(*d.GetBandPass()));
            plan.detectorLowPass = Coefficients(*d.GetLowPass());
        }
    }
}

}  // namespace

std::unique_ptr<LP_FilterIIR> SmoothingFilter(double sampleRate, double rate) {
    return std::make_unique<LP_FilterIIR>(2, sampleRate, rate / 2.4);
}

std::unique_ptr<LP_FilterIIR> AcousticLowPass(double sampleRate, double cutoff) {
    return std::make_unique<LP_FilterIIR>(2, sampleRate, cutoff);
}

Plan MakePlan(const Parameters& parameters, uint32_t sampleRate) {
    Plan plan;
    plan.settings = Read(parameters);
    plan.sampleRate = sampleRate;
    plan.channels = parameters.n_inserted_ch->GetValue();
    plan.detection = parameters.envelope_detection->GetValue();
    plan.rate = parameters.rate->GetValue();
    plan.nOn = parameters.n_on->GetValue();
    plan.synchronization = parameters.synchronization->GetValue();
    plan.eas = parameters.eas->GetValue();
    const double fs = static_cast<double>(sampleRate);

    plan.analysis =
        Layout(ImplantLowFrequency(&parameters), parameters.f_max->GetValue(), plan.channels);
    double fLow;
    double fHigh;
    SynthesisRange(&parameters, &fLow, &fHigh);
    plan.synthesis = Layout(fLow, fHigh, plan.channels);
    DesignDetection(plan);
    plan.smoothing = Coefficients(*SmoothingFilter(fs, plan.rate));
    for (uint32_t i = 0; i < plan.channels; i++) {
        plan.synthesisTaps.push_back(Coefficients(
            FilterHilbertSin(plan.synthesis.width[i], plan.synthesis.center[i], sampleRate)));
    }
    if (plan.eas) {
        plan.acousticLowPass =
            Coefficients(*AcousticLowPass(fs, parameters.cutoff_freq->GetValue()));
    }
    plan.interactionFactor = InteractionFactor(&parameters);
    plan.weights = InteractionWeights(plan.interactionFactor, plan.channels);
    return plan;
}

}  // namespace stages
