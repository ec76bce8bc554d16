#include "sim/BandLayout.h"

#include <cmath>

#include "params/Parameters.h"

void CalculateBandLayout(double fLow, double fHigh, int n, double* lowFreq, double* highFreq,
                         double* centerFreq, double* bandwidth) {
    const double a = std::log(fLow);
    const double step = (std::log(fHigh) - a) / n;
    for (int i = 0; i < n; i++) {
        lowFreq[i] = std::exp(i * step + a);
        highFreq[i] = std::exp((i + 1) * step + a);
        bandwidth[i] = highFreq[i] - lowFreq[i];
        centerFreq[i] = 0.5 * (lowFreq[i] + highFreq[i]);
    }
}

double ImplantLowFrequency(const Parameters* parameters) {
    return parameters->eas->GetValue() ? parameters->cutoff_freq->GetValue()
                                       : parameters->f_min->GetValue();
}

void SynthesisRange(const Parameters* parameters, double* fLow, double* fHigh) {
    if (parameters->freq_shift->GetValue()) {
        const double n = parameters->n_inserted_ch->GetValue();
        const double x =
            n * (parameters->length_ci->GetValue() / parameters->n_chan_ci->GetValue());
        *fLow = std::exp(9.21 - x * 0.13);
        *fHigh = 9900.0;
    } else {
        *fLow = ImplantLowFrequency(parameters);
        *fHigh = parameters->f_max->GetValue();
    }
}

double InteractionFactor(const Parameters* parameters) {
    const uint32_t n = parameters->n_inserted_ch->GetValue();
    if (n > 1) {
        const double d = parameters->length_ci->GetValue() / (n - 1);
        return std::exp(-d / parameters->interact_decay->GetValue());
    }
    return 0.001;
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
