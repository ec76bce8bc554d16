#pragma once

#include "signal/DSP.h"

// A train of single-sample pulses at the strict local maxima of a source signal. Each pulse is
// 1 over the number of maxima within 250 samples on either side of it, so that evenly spaced
// pulses in any 501-sample window add up to about 1.
class TrainPulseGenerator final : public SignalGenerator {
public:
    // The source is borrowed and read only by Generate, which must run while it exists.
    explicit TrainPulseGenerator(Signal* source);
    TrainPulseGenerator(const TrainPulseGenerator&) = delete;
    TrainPulseGenerator& operator=(const TrainPulseGenerator&) = delete;

    Signal* Generate() override;

private:
    Signal* source;
};
