#pragma once

#include "signal/DSP.h"

// Scales a signal so that its largest magnitude becomes 0.9999; silence stays silent.
class Normalizer final : public SimpleDSP {
public:
    Normalizer() = default;
    Normalizer(const Normalizer&) = delete;
    Normalizer& operator=(const Normalizer&) = delete;

    Signal* Run(Signal* input) override;
};
