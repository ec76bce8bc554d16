#include "dsp/HilbertFIR_Detector.h"

#include <cmath>

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
    const std::unique_ptr<Signal> s(filters.first->Run(input));
    const std::unique_ptr<Signal> c(filters.second->Run(input));
    const uint32_t length = input->GetLength();
    std::unique_ptr<Signal> output(new Signal(length, input->GetSampleRate()));
    const double* sin_part = s->GetSamples();
    const double* cos_part = c->GetSamples();
    double* envelope = output->GetSamples();
    for (uint32_t i = 0; i < length; i++) {
        envelope[i] = std::sqrt(sin_part[i] * sin_part[i] + cos_part[i] * cos_part[i]);
    }
    return output.release();
}
