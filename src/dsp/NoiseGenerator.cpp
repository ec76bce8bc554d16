#include "dsp/NoiseGenerator.h"

#include "dsp/Kernels.h"

NoiseGenerator::NoiseGenerator(unsigned long length, unsigned long sample_rate)
    : length(static_cast<uint32_t>(length)), sample_rate(static_cast<uint32_t>(sample_rate)) {}

Signal* NoiseGenerator::Generate() {
    Signal* noise = new Signal(length, sample_rate);
    kernels::Randn(noise->GetSamples(), length);
    return noise;
}
