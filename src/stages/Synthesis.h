#pragma once

// Synthesis: the offline simulation's way from the final envelopes back to sound, block by
// block. Each channel's envelope gives its pulse train (block::PulseStream: a pulse on every peak,
// known once the envelope is known 251 samples further), modulates its carrier (Carriers, with
// the offline noise stretches and gains), is band-limited (BandFilter) and added in channel order
// into the output. Delay: the output of the positions whose pulses are known, so a block's
// output lags its envelopes by up to 251 samples; the last block gives the rest.
//
// The gains g = sqrt(E_noise / E_pulse) need the energies of the whole signal: PulseEnergies
// finds the pulse trains' in a first pass over the same envelopes; block::NoiseChain draws the
// noise's.

#include <cstdint>
#include <optional>
#include <vector>

#include "dsp/Parallel.h"
#include "dsp/gasdev.h"
#include "signal/SampleMemory.h"
#include "sim/BlockStreams.h"
#include "stages/BandFilter.h"
#include "stages/Carriers.h"
#include "stages/Plan.h"

namespace stages {

// Every channel's scratch for the pulse streams' output: pulses and envelope, room for a block
// and the 251 positions a stream may hold back.
class PulseRows {
public:
    // Not initialised: a stream writes every position before it is read, and the pages are
    // first touched by the threads that work on the channels rather than all here by one.
    PulseRows(uint32_t channels, uint32_t block)
        : room(block + 512), memory(sample_memory::MakeBuffer(size_t{channels} * 2 * room)) {}
    uint32_t Room() const { return room; }
    double* Pulses(uint32_t i) { return memory.get() + size_t{i} * 2 * room; }
    double* Held(uint32_t i) { return Pulses(i) + room; }

private:
    uint32_t room;
    sample_memory::Buffer memory;
};

// Each channel's pulse-train energy over a signal of `length` samples, its final envelopes given
// in blocks of up to `block` samples.
class PulseEnergies {
public:
    PulseEnergies(const Plan& plan, uint64_t length, uint32_t block);
    // The next m samples of channel i's envelope (channels are independent: they may run at
    // once).
    void Channel(uint32_t i, const double* row, uint32_t m);
    // The next m samples of every channel's envelope (rows[i][0 .. m)), the channels on team.
    void Process(const double* const* rows, uint32_t m, parallel::Team& team) {
        team.For(static_cast<uint32_t>(energies.size()),
                 [&](uint32_t i) { Channel(i, rows[i], m); });
    }
    double Energy(uint32_t i) const { return energies[i]; }

private:
    std::vector<block::PulseStream> pulses;
    PulseRows scratch;
    std::vector<double> energies;
};

class Synthesis {
public:
    // starts[i]: where channel i's noise stretch starts; gains[i]: its pulse gain. Blocks of up
    // to `block` samples of a signal of `length`. `seed`: the tones' phases (carrier sine).
    Synthesis(const Plan& plan, const std::vector<RandomState>& starts,
              const std::vector<double>& gains, uint64_t length, uint32_t block,
              const std::optional<int64_t>& seed = std::nullopt);

    // The next m samples of every channel's final envelope (rows[i][0 .. m)): the band sum of
    // the positions that became known added into out (the whole output, indexed from the
    // signal's first sample), the channels and slices of the sum on team.
    void Process(const double* const* rows, uint32_t m, double* out, parallel::Team& team);

    // Process in its steps, for a caller with loops of its own: Begin(m) says how many
    // positions the block completes (k); then Channel for every channel (at once, if need be),
    // Sum over slices of [0, k) (at once, if need be), and End.
    uint32_t Begin(uint32_t m);
    void Channel(uint32_t i, const double* row);
    // out[from + j] += every channel's band sample j, in channel order, for j in [first, end).
    void Sum(double* out, uint32_t first, uint32_t end) const { bands.Sum(out + from, first, end); }
    void End();

private:
    const Plan& plan;
    uint64_t position = 0;
    uint32_t m = 0;     // the current block's samples
    uint64_t from = 0;  // its first position completed
    uint64_t upto = 0;  // and the one after its last
    std::vector<block::PulseStream> pulses;
    PulseRows scratch;
    Carriers carriers;
    BandFilter bands;
};

// The whole signal's gains sqrt(E_noise / E_pulse), channel by channel.
std::vector<double> PulseGains(const block::NoiseChain& noise, const PulseEnergies& pulses,
                               uint32_t channels);

// Where each channel's noise stretch starts (noise drawn to the end).
std::vector<RandomState> NoiseStarts(const block::NoiseChain& noise, uint32_t channels);

}  // namespace stages
