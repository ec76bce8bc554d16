#include "stages/Plan.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "dsp/FilterFIR.h"
#include "dsp/FilterIIR.h"
#include "dsp/RectLP_IIR_Detector.h"
#include "params/BandEdges.h"
#include "params/Models.h"
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

Bands FromEdges(const std::vector<double>& edges) {
    Bands b;
    for (size_t i = 0; i + 1 < edges.size(); i++) {
        b.low.push_back(edges[i]);
        b.high.push_back(edges[i + 1]);
        b.width.push_back(edges[i + 1] - edges[i]);
        b.center.push_back(0.5 * (edges[i] + edges[i + 1]));
    }
    return b;
}

// The analysis bands of the m active electrodes: the edges given (reallocated when some
// electrodes are off), or the layout over the implant's range.
Bands AnalysisBands(const cihear::Settings& s, uint32_t m) {
    if (!s.band_edges.empty()) {
        return FromEdges(params::Reallocate(s.band_edges, m));
    }
    return FromEdges(params::LayoutEdges(s.bands, ImplantLowFrequency(s), s.f_max, m));
}

// The synthesis bands: the analysis bands, or under freq_shift the bands of the electrodes'
// places (the place range divided among all the electrodes, each active one keeping its own).
Bands SynthesisBands(const cihear::Settings& s, const Plan& plan) {
    if (!s.freq_shift) {
        return plan.analysis;
    }
    double fLow;
    double fHigh;
    SynthesisRange(s, &fLow, &fHigh);
    const Bands all =
        FromEdges(params::LayoutEdges(params::kLog, fLow, fHigh, plan.electrodeCount));
    Bands b;
    for (uint32_t p : plan.positions) {
        b.low.push_back(all.low[p]);
        b.high.push_back(all.high[p]);
        b.width.push_back(all.width[p]);
        b.center.push_back(all.center[p]);
    }
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

std::unique_ptr<LP_FilterIIR> SmoothingFilter(double sampleRate, double rate) {
    return std::make_unique<LP_FilterIIR>(2, sampleRate, rate / 2.4);
}

std::unique_ptr<LP_FilterIIR> AcousticLowPass(double sampleRate, double cutoff) {
    return std::make_unique<LP_FilterIIR>(2, sampleRate, cutoff);
}

Plan MakePlan(const cihear::Settings& s, uint32_t sampleRate) {
    Plan plan;
    plan.settings = s;
    plan.sampleRate = sampleRate;
    plan.electrodeCount = s.n_inserted_ch;
    plan.electrodes = params::ActiveElectrodes(s);
    for (uint32_t e : plan.electrodes) {
        plan.positions.push_back(e - 1);
    }
    plan.channels = static_cast<uint32_t>(plan.electrodes.size());
    plan.detection = s.envelope_detection;
    plan.rate = s.rate;
    plan.nOn = s.n_on;
    plan.synchronization = s.synchronization;
    plan.eas = s.eas;
    plan.sine = s.carrier == params::kSine;
    plan.zeroPhase = s.sine_phase == params::kZeroPhase;
    const double fs = static_cast<double>(sampleRate);

    plan.analysis = AnalysisBands(s, plan.channels);
    plan.synthesis = SynthesisBands(s, plan);
    DesignDetection(plan);
    plan.smoothing = Coefficients(*SmoothingFilter(fs, plan.rate));
    for (uint32_t i = 0; i < plan.channels; i++) {
        plan.synthesisTaps.push_back(Coefficients(
            FilterHilbertSin(plan.synthesis.width[i], plan.synthesis.center[i], sampleRate)));
        if (plan.sine) {
            plan.tones.push_back(std::sqrt(plan.synthesis.low[i] * plan.synthesis.high[i]));
        }
    }
    if (plan.eas) {
        plan.acousticLowPass = Coefficients(*AcousticLowPass(fs, s.cutoff_freq));
    }
    plan.interactionFactor = InteractionFactor(s);
    plan.weights = InteractionWeights(plan.interactionFactor, plan.electrodeCount);
    return plan;
}

Plan MakePlan(const Parameters& parameters, uint32_t sampleRate) {
    return MakePlan(parameters.GetSettings(), sampleRate);
}

}  // namespace stages
