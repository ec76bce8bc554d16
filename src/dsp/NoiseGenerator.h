#pragma once

#include <cstdint>

#include "signal/DSP.h"

// White Gaussian noise: each Generate continues the one process-wide randn sequence.
class NoiseGenerator final : public SignalGenerator {
public:
    NoiseGenerator(unsigned long length, unsigned long sample_rate);
    NoiseGenerator(const NoiseGenerator&) = delete;
    NoiseGenerator& operator=(const NoiseGenerator&) = delete;

    Signal* Generate() override;

private:
    uint32_t length;
    uint32_t sample_rate;
};
