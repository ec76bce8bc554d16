#pragma once

// Detection: each channel's envelope of the input, the band's loudness over time.
//
// - envelope_detection 0: the magnitude of the band's analytic signal, sqrt(s^2 + c^2) of the
//   quadrature pair of 100-tap FIRs (Hamming-windowed sine and cosine at the band's centre,
//   FilterFIR). Delay: 50 samples (the taps' centre); the first 100 samples are 0, as the FIRs
//   give no output before they are full.
// - envelope_detection 1: the band-pass (Butterworth, order 3, the band's edges), rectified,
//   then low-passed at 350 Hz (order 2), the detector's fixed cutoff (RectLP_IIR_Detector).
//   Delay: the filters' group delays, a few samples.
// - any other method: silence.
//
// The input goes in block by block; the envelopes come out for the same samples, bit for bit
// what one pass over the whole input gives.

#include <cstdint>
#include <vector>

#include "stages/Plan.h"

namespace stages {

class Detection {
public:
    // For blocks of up to maxBlock samples.
    Detection(const Plan& plan, uint32_t maxBlock);

    // A block: Begin with its m input samples (x borrowed until End), then Process for every
    // channel (groups of channels may run at once on several threads), then End.
    void Begin(const double* x, uint32_t m);
    // The envelopes of the block into rows[i][0 .. m) for channels [first, first + count); each
    // row has kTaps writable samples before it (scratch).
    void Process(double* const* rows, uint32_t first, uint32_t count);
    void End();
    void Reset();

private:
    const Plan& plan;
    uint64_t position = 0;      // input samples before the current block
    const double* x = nullptr;  // the current block
    uint32_t m = 0;
    std::vector<double> window;     // the last kTaps input samples, then the block
    std::vector<double> bandState;  // detection 1: 16 per channel (kernels::FilterChannelsFrom)
    std::vector<double> lowState;
};

}  // namespace stages
