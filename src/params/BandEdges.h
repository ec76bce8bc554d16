#pragma once

// Band layouts: the n + 1 edges that divide a frequency range into n contiguous bands.

#include <cstdint>
#include <vector>

namespace params {

// The edges of n bands from fLow to fHigh in equal steps of
//   log     log frequency: edge k = exp(k step + ln fLow), step = (ln fHigh - ln fLow) / n, each
//           computed afresh from its index (the analysis and the synthesis get the same bits);
//   greenwood  cochlear place, by Greenwood's human map F = A (10^(a x) - k), A = 165.4 Hz,
//           a = 2.1, k = 0.88, x the relative distance from the apex (0) to the base (1)
//           (Greenwood 1990, J. Acoust. Soc. Am. 87: 2592);
//   linear  Hz;
//   erb     ERB number, 21.4 log10(1 + 0.00437 f) (Glasberg and Moore 1990, Hear. Res. 47: 103).
// The first and last edges are fLow and fHigh exactly except for log (whose last edge is
// exp(ln fHigh) as the program has always computed it). `layout` is a params::Layout.
std::vector<double> LayoutEdges(unsigned layout, double fLow, double fHigh, uint32_t n);

// Greenwood's map and its inverse: the frequency at relative place x, the place of frequency f.
double GreenwoodFrequency(double x);
double GreenwoodPlace(double f);
// The ERB-number scale and its inverse.
double ErbNumber(double f);
double ErbFrequency(double e);

// The edges of m bands "with the same layout" as the n bands of `edges` (m < n; for m = n the
// edges themselves): edge k sits at the fraction k / m of the table, between its neighbouring
// edges by the step of log frequency, so that a table reallocated over fewer channels keeps its
// range and its distribution of resolution.
std::vector<double> Reallocate(const std::vector<double>& edges, uint32_t m);

}  // namespace params
