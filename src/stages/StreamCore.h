#pragma once

// The stream: the stages run causally on audio that arrives in blocks of any size, for
// cihear::Stream. Data flow, per block of at most kBlock samples:
//
//   input x gain -> Detection -> Smoothing -> Selection -> Smoothing -> Spread  (the envelopes)
//     -> PulseStream (250 samples of look-ahead) -> Carriers -> BandFilter -> channel sum
//     -> x output gain (+ Acoustic under eas) -> clip guard -> output
//
// Every stage carries its state across block edges, so the output does not depend on how the
// input is split. The output lags the envelopes by the pulse streams' look-ahead (Latency);
// the first Latency() output samples are silence. At synchronization 0 the carrier is the
// noise alone: the pulse train enters it times 0, and a finite pulse (never negative) times 0 is
// +0, which added to the noise leaves the noise as it is, bit for bit and sign for sign. So there
// the pulse streams are not run, the carriers get +0 pulses, and the latency is 0. Nothing is
// allocated after construction.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/BlockStreams.h"
#include "stages/Acoustic.h"
#include "stages/BandFilter.h"
#include "stages/Carriers.h"
#include "stages/Detection.h"
#include "stages/Plan.h"
#include "stages/Selection.h"
#include "stages/Smoothing.h"

namespace stages {

class StreamCore {
public:
    static constexpr uint32_t kBlock = 256;  // samples per internal block
    // A pulse at j is known once the envelope is known to j + 251 (PulseStream).
    static constexpr uint32_t kPulseLatency = block::halfWindow + 1;
    // The output's lag behind the offline simulation under a plan: kPulseLatency, or 0 at
    // synchronization 0 and with carrier sine (no pulses heard, none waited for).
    static uint32_t LatencyOf(const Plan& plan) {
        return plan.synchronization == 0.0 || plan.sine ? 0 : kPulseLatency;
    }

    StreamCore(const Plan& plan, const std::optional<int64_t>& seed, double inputGain,
               double outputGain);
    StreamCore(const StreamCore&) = delete;
    StreamCore& operator=(const StreamCore&) = delete;

    void Process(const double* in, size_t count, double* out);
    void Flush(double* out);  // Latency() samples
    uint32_t Latency() const { return latency; }
    void Reset();
    uint64_t Clipped() const { return clipped; }
    const Plan& GetPlan() const { return plan; }

    // Called with every channel's envelopes before the carriers (after Spread), block by block
    // (null: not called); for tests and inspection.
    using EnvelopeTap = void (*)(void* context, uint32_t channel, uint64_t position,
                                 const double* envelope, uint32_t count);
    void SetEnvelopeTap(EnvelopeTap tap, void* context) {
        envelopeTap = tap;
        tapContext = context;
    }
    // Told of every stimulation frame the selection chooses (Selection::SetObserver), for a
    // live electrodogram.
    void SetFrameObserver(Selection::Observer observer, void* context) {
        selection.SetObserver(observer, context);
    }

private:
    void Block(const double* in, uint32_t m, double* out);
    // Channel i's modulated carrier into its band, for the positions whose pulses are known
    // once its next m envelope samples (in row) are: how many.
    uint32_t Carry(uint32_t i, double* row, uint32_t m);
    // out[j] = implant[j] x output gain (+ acoustic[j]), clamped to [-1, 1].
    void Finish(const double* implant, const double* acoustic, uint32_t m, double* out);

    const Plan plan;
    double inputGain;
    double outputGain;
    const uint32_t latency;
    Detection detection;
    Smoothing before;
    Selection selection;
    Smoothing after;
    std::vector<block::PulseStream> pulses;  // none at latency 0
    Carriers carriers;
    BandFilter bands;
    Acoustic acoustic;
    uint64_t position = 0;
    uint64_t clipped = 0;
    EnvelopeTap envelopeTap = nullptr;
    void* tapContext = nullptr;
    // Working rows: per channel its envelope (kTaps of room before it), pulses and held
    // envelope; then the input, the implant's sum and the acoustic part of a block.
    std::vector<double> memory;
    std::vector<double*> envelope;
    std::vector<double> x;
    std::vector<double> sum;
    std::vector<double> heard;
    std::vector<double> zeros;
};

}  // namespace stages
