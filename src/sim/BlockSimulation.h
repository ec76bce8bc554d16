#pragma once

#include <cihear/cihear.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace parallel {
class Team;
}
class Parameters;
class Signal;
struct RandomState;
struct SelectionRecord;

// The whole simulation (Simulator::Run) in blocks of time, in memory bounded by the input, the
// output and a few values per channel and stimulation frame, never by whole envelopes.
//
// Two passes go through the chain. The first runs the analysis block by block (detection,
// smoothing, N-of-M selection, smoothing, current spread; every filter carries its state from
// block to block, the selection frames and the pulse-train windows cross block edges exactly)
// and keeps what the selection decided, one value per channel and frame, together with the
// energies of each channel's noise and pulse train over the whole length. The second rebuilds
// the envelopes from the frames block by block and synthesises, the channels' bands added in
// channel order into the output, which is peak-normalised (under eas, the low-passed input
// added and normalised again) once it is whole. Every output sample has the bits that
// Simulator::Run gives, for every block size and thread count.
struct BlockSimulation {
    Parameters* parameters = nullptr;  // borrowed
    // The effective settings, borrowed, when given instead of parameters (which hold the coding
    // strategy's alone), and the seed of the sine carrier's phases.
    const cihear::Settings* settings = nullptr;
    std::optional<int64_t> seed;
    uint32_t sampleRate = 20000;
    RandomState* random = nullptr;  // the noise continues this sequence (borrowed)
    unsigned threads = 1;
    // The run's threads, borrowed (null: a team of `threads` made for the run). The caller's
    // team lets the steps after the simulation (writing the output) use the same threads.
    parallel::Team* team = nullptr;
    uint32_t blockSize = 1 << 14;              // samples per block (any value from 1 up)
    SelectionRecord* selection = nullptr;      // filled as Analyzer::N_of_M fills it, when given
    std::vector<double>* envelopes = nullptr;  // channels x samples, row by row, when given
    // Under eas, what the low-passed input is multiplied by before it is added (a power of two
    // undoing a scaling of the input, so that the acoustic part keeps the caller's level; at 1
    // nothing is multiplied).
    double acousticGain = 1.0;
    // Asked on the calling thread before every block of both passes, when given: true ends the
    // run with Cancelled.
    std::function<bool()> cancelled;

    // The simulated output of input; input is released as soon as it is no longer needed
    // (after the first pass, unless eas needs it to the end).
    std::vector<double> Run(std::unique_ptr<Signal>& input);

    // The same for the signal `load` gives, called on one of the simulation's threads while
    // another already draws the noise for a signal of `expected` samples (drawn again should the
    // signal have another length). Throws LoadFailed when load gives none.
    using Loader = std::function<std::unique_ptr<Signal>()>;
    struct LoadFailed {};
    struct Cancelled {};
    std::vector<double> Run(uint64_t expected, const Loader& load);

    // Throws Cancelled when `cancelled` says so (between blocks).
    void StopIfCancelled() const;
};
