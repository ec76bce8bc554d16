#include "dsp/NoiseGenerator.h"

#include "dsp/Kernels.h"
#include "dsp/gasdev.h"

NoiseGenerator::NoiseGenerator(unsigned long length, unsigned long sample_rate)
    : length(static_cast<uint32_t>(length)),
      sample_rate(static_cast<uint32_t>(sample_rate)),
      state(&own) {}

NoiseGenerator::NoiseGenerator(unsigned long length, unsigned long sample_rate, RandomState* state)
    : length(static_cast<uint32_t>(length)),
      sample_rate(static_cast<uint32_t>(sample_rate)),
      state(state) {}

Signal* NoiseGenerator::Generate() {
    Signal* noise = new Signal(length, sample_rate);
    kernels::Randn(*state, noise->GetSamples(), length);
    return noise;
}
