#include "dsp/HilbertFIR_Detector.h"

#include "dsp/Kernels.h"

HilbertFIR_Detector::HilbertFIR_Detector(double bandwidth, double center_freq,
                                         unsigned long sample_rate) {
    filters.first.reset(new FilterHilbertSin(bandwidth, center_freq, sample_rate));
    filters.second.reset(new FilterHilbertCos(bandwidth, center_freq, sample_rate));
}

HilbertFIR_Detector::~HilbertFIR_Detector() {
    filters.first.reset();
    filters.second.reset();
}

Signal* HilbertFIR_Detector::Run(Signal* input) {
    // Both filters and the magnitude in one pass: the two components are never stored.
    const uint32_t length = input->GetLength();
    std::unique_ptr<Signal> output(new Signal(length, input->GetSampleRate()));
    kernels::QuadratureMagnitude(filters.first->GetCoeffs(), filters.second->GetCoeffs(),
                                 input->GetSamples(), output->GetSamples(), length);
    return output.release();
}
