#include "dsp/RectLP_IIR_Detector.h"

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
    std::unique_ptr<Signal> band(filter_bp->Run(input));
    double* t = band->GetSamples();
    const uint32_t length = band->GetLength();
    for (uint32_t i = 0; i < length; i++) {
        t[i] = std::fabs(t[i]);
    }
    // The low-pass runs in place: the same samples as filter_lp->Run, without another signal.
    kernels::FilterChannels(filter_lp->GetA(), filter_lp->GetB(), filter_lp->GetNumCoeffs(), &t, 1,
                            length);
    return band.release();
}
