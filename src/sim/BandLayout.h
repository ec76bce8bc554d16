#pragma once

#include <cihear/cihear.h>

#include <cstdint>
#include <vector>

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
double ImplantLowFrequency(const cihear::Settings& s);
double ImplantLowFrequency(const Parameters* parameters);

// The range of the synthesis bands: the analysis range, or under freq_shift the place
// frequencies of the electrodes (Greenwood's map fitted as exp(9.21 - 0.13 x), x the insertion
// depth in mm: electrode spacing times inserted channels) up to 9900 Hz.
void SynthesisRange(const cihear::Settings& s, double* fLow, double* fHigh);
void SynthesisRange(const Parameters* parameters, double* fLow, double* fHigh);

// The current spread's weight of an adjacent channel, exp(-d / interact_decay) for electrodes d
// mm apart (length_ci over the gaps between n_inserted_ch), 0.001 for a single channel; and the
// weight at a distance of d channels, factor^d by repeated multiplication, for d < n.
double InteractionFactor(const cihear::Settings& s);
double InteractionFactor(const Parameters* parameters);
std::vector<double> InteractionWeights(double factor, uint32_t n);
