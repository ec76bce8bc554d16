#include "dsp/Normalizer.h"

#include "stages/Normalization.h"

Signal* Normalizer::Run(Signal* input) {
    const uint32_t length = input->GetLength();
    Signal* output = new Signal(length, input->GetSampleRate());
    Normalize(input->GetSamples(), output->GetSamples(), length);
    return output;
}

void Normalizer::Normalize(const double* x, double* y, uint64_t length) {
    stages::Normalize(x, y, length);
}

double Normalizer::Peak(const double* x, uint64_t length) {
    return stages::Peak(x, length);
}

void Normalizer::ScaleToPeak(const double* x, double* y, uint64_t length, double peak) {
    stages::ScaleToPeak(x, y, length, peak);
}

void Normalizer::Scale(const double* x, double* y, uint64_t length, double g) {
    stages::Scale(x, y, length, g);
}
