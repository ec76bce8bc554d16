#pragma once

#include <cstdint>

#include "dsp/gasdev.h"
#include "signal/DSP.h"

// White Gaussian noise: each Generate continues a randn sequence, the generator's own (from a
// fresh state) or the state given (borrowed; it must outlive the generator).
class NoiseGenerator final : public SignalGenerator {
public:
    NoiseGenerator(unsigned long length, unsigned long sample_rate);
    NoiseGenerator(unsigned long length, unsigned long sample_rate, RandomState* state);
    NoiseGenerator(const NoiseGenerator&) = delete;
    NoiseGenerator& operator=(const NoiseGenerator&) = delete;

    Signal* Generate() override;

private:
    uint32_t length;
    uint32_t sample_rate;
    RandomState own;  // without a state given
    RandomState* state;
};
