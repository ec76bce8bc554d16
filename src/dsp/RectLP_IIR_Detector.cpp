#include "dsp/RectLP_IIR_Detector.h"

#include <algorithm>
#include <cmath>

#include "dsp/Kernels.h"

namespace {

const unsigned int bandPassOrder = 3;
const unsigned int lowPassOrder = 2;
const double lowPassCutoff = 350.0;

}  // namespace

RectLP_IIR_Detector::RectLP_IIR_Detector(double low_freq, double high_freq,
                                         unsigned long sample_rate) {
    const double fs = static_cast<double>(static_cast<uint32_t>(sample_rate));
    if (high_freq >= fs / 2.0) {
        // An upper edge at or above the Nyquist frequency has no bilinear image (its prewarped
        // frequency is infinite and the band-pass design gives NaN). The band-pass whose upper
        // edge goes to infinity is the high-pass of the same order at the lower edge.
        filter_bp.reset(new HP_FilterIIR(bandPassOrder, fs, low_freq));
    } else {
        filter_bp.reset(new BP_FilterIIR(bandPassOrder, fs, low_freq, high_freq));
    }
    filter_lp.reset(new LP_FilterIIR(lowPassOrder, fs, lowPassCutoff));
}

RectLP_IIR_Detector::~RectLP_IIR_Detector() = default;

Signal* RectLP_IIR_Detector::Run(Signal* input) {
    const uint32_t length = input->GetLength();
    std::unique_ptr<Signal> band(new Signal(length, input->GetSampleRate()));
    std::copy(input->GetSamples(), input->GetSamples() + length, band->GetSamples());
    double bpState[16] = {};
    double lpState[16] = {};
    Detect(filter_bp->GetA(), filter_bp->GetB(), filter_bp->GetNumCoeffs(), filter_lp->GetA(),
           filter_lp->GetB(), filter_lp->GetNumCoeffs(), band->GetSamples(), length, 0, bpState,
           lpState);
    return band.release();
}

void RectLP_IIR_Detector::Detect(const double* bpA, const double* bpB, uint32_t bpCount,
                                 const double* lpA, const double* lpB, uint32_t lpCount, double* x,
                                 uint32_t m, uint64_t start, double* bpState, double* lpState) {
    kernels::FilterChannelsFrom(bpA, bpB, bpCount, &x, 1, m, start, bpState);
    for (uint32_t i = 0; i < m; i++) {
        x[i] = std::fabs(x[i]);
    }
    kernels::FilterChannelsFrom(lpA, lpB, lpCount, &x, 1, m, start, lpState);
}
