#include "sim/BandLayout.h"

#include <cmath>

#include "params/BandEdges.h"
#include "params/Models.h"
#include "params/Parameters.h"

void CalculateBandLayout(double fLow, double fHigh, int n, double* lowFreq, double* highFreq,
                         double* centerFreq, double* bandwidth) {
    const std::vector<double> e =
        params::LayoutEdges(params::kLog, fLow, fHigh, static_cast<uint32_t>(n));
    for (int i = 0; i < n; i++) {
        lowFreq[i] = e[i];
        highFreq[i] = e[i + 1];
        bandwidth[i] = highFreq[i] - lowFreq[i];
        centerFreq[i] = 0.5 * (lowFreq[i] + highFreq[i]);
    }
}

double ImplantLowFrequency(const cihear::Settings& s) {
    return s.eas ? s.cutoff_freq : s.f_min;
}

double ImplantLowFrequency(const Parameters* parameters) {
    return ImplantLowFrequency(parameters->GetSettings());
}

void SynthesisRange(const cihear::Settings& s, double* fLow, double* fHigh) {
    if (s.freq_shift) {
        const double n = s.n_inserted_ch;
        const double x = n * (s.length_ci / s.n_chan_ci);
        *fLow = std::exp(9.21 - x * 0.13);
        *fHigh = 9900.0;
    } else {
        *fLow = ImplantLowFrequency(s);
        *fHigh = s.f_max;
    }
}

void SynthesisRange(const Parameters* parameters, double* fLow, double* fHigh) {
    SynthesisRange(parameters->GetSettings(), fLow, fHigh);
}

double InteractionFactor(const cihear::Settings& s) {
    const uint32_t n = s.n_inserted_ch;
    if (n > 1) {
        const double d = s.length_ci / (n - 1);
        return std::exp(-d / s.interact_decay);
    }
    return 0.001;
}

double InteractionFactor(const Parameters* parameters) {
    return InteractionFactor(parameters->GetSettings());
}
std::vector<double> InteractionWeights(double factor, uint32_t n) {
    std::vector<double> w(n);
    if (n > 0) {
        w[0] = 1.0;
    }
    for (uint32_t d = 1; d < n; d++) {
        w[d] = w[d - 1] * factor;
    }
    return w;
}
