#include "dsp/RectLP_IIR_Detector.h"

#include <cmath>

#include "dsp/Kernels.h"

namespace {

const unsigned int bandPassOrder = 3;
const unsigned int lowPassOrder = 2;
const double lowPassCutoff = 350.0;

}  // namespace

int32_t RectLP_IIR_Detector::num_instances = 0;
LP_FilterIIR* RectLP_IIR_Detector::filter_lp = nullptr;

RectLP_IIR_Detector::RectLP_IIR_Detector(double low_freq, double high_freq,
                                         unsigned long sample_rate) {
    const double fs = static_cast<double>(static_cast<uint32_t>(sample_rate));
    filter_bp.reset(new BP_FilterIIR(bandPassOrder, fs, low_freq, high_freq));
    if (num_instances == 0) {
        filter_lp = new LP_FilterIIR(lowPassOrder, fs, lowPassCutoff);
    }
    num_instances = num_instances + 1;
}

RectLP_IIR_Detector::~RectLP_IIR_Detector() {
    filter_bp.reset();
    num_instances = num_instances - 1;
    if (num_instances == 0 && filter_lp != nullptr) {
        delete filter_lp;
        filter_lp = nullptr;
    }
}

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
