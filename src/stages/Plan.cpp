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

Plan MakePlan(const Parameters& parameters, const cihear::Settings& effective,
              uint32_t sampleRate) {
    Plan plan;
    plan.settings = effective;
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
    plan.smoothing = Coefficients(LP_FilterIIR(2, fs, plan.rate / 2.4));
    for (uint32_t i = 0; i < plan.channels; i++) {
        plan.synthesisTaps.push_back(Coefficients(
            FilterHilbertSin(plan.synthesis.width[i], plan.synthesis.center[i], sampleRate)));
    }
    if (plan.eas) {
        plan.acousticLowPass =
            Coefficients(LP_FilterIIR(2, fs, parameters.cutoff_freq->GetValue()));
    }
    plan.interactionFactor = InteractionFactor(&parameters);
    plan.weights = InteractionWeights(plan.interactionFactor, plan.channels);
    return plan;
}

}  // namespace stages
