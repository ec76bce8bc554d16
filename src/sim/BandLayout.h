#pragma once

class Parameters;

// The channel bands of the implant: n bands of equal width on a logarithmic frequency axis,
// contiguous from fLow to fHigh. Band i runs from exp(i*step + ln fLow) to
// exp((i+1)*step + ln fLow) with step = (ln fHigh - ln fLow) / n; each edge is computed afresh
// from its index so that the analysis and the synthesis get bit-identical bands. The centre is
// the arithmetic mean of the edges and the width their difference. Each array holds n doubles.
void CalculateBandLayout(double fLow, double fHigh, int n, double* lowFreq, double* highFreq,
                         double* centerFreq, double* bandwidth);

// The lower edge of the implant's range: the cutoff under electro-acoustic stimulation, where
// the hearing aid covers what lies below it, and f_min otherwise.
double ImplantLowFrequency(const Parameters* parameters);
