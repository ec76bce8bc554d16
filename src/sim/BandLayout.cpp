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
