#include "stages/Synthesis.h"

#include <algorithm>

namespace stages {
namespace {

// The band sum of k positions in slices of about 1024 samples, as many as there are threads.
uint32_t SumSlices(uint32_t k, unsigned threads) {
    return std::max<uint32_t>(1, std::min<uint32_t>(threads, (k + 1023) / 1024));
}

}  // namespace

PulseEnergies::PulseEnergies(const Plan& plan, uint64_t length, uint32_t block)
    : scratch(plan.channels, block), energies(plan.channels, 0.0) {
    for (uint32_t i = 0; i < plan.channels; i++) {
        pulses.emplace_back(length, block);
    }
}

void PulseEnergies::Channel(uint32_t i, const double* row, uint32_t m) {
    block::PulseStream& train = pulses[i];
    train.Push(row, m);
    const uint64_t from = train.Next();
    const uint64_t upto = train.Ready();
    train.Pull(upto, scratch.Pulses(i), scratch.Held(i));
    energies[i] = AddSquares(energies[i], scratch.Pulses(i), upto - from);
}

Synthesis::Synthesis(const Plan& plan, const std::vector<RandomState>& starts,
                     const std::vector<double>& gains, uint64_t length, uint32_t block,
                     const std::optional<int64_t>& seed)
    : plan(plan),
      scratch(plan.channels, block),
      carriers(plan, starts, gains, scratch.Room(), seed),
      bands(plan, scratch.Room()) {
    for (uint32_t i = 0; i < plan.channels; i++) {
        pulses.emplace_back(length, block);
    }
}

void Synthesis::Process(const double* const* rows, uint32_t count, double* out,
                        parallel::Team& team) {
    const uint32_t k = Begin(count);
    team.For(plan.channels, [&](uint32_t i) { Channel(i, rows[i]); });
    const uint32_t slices = SumSlices(k, team.Size());
    team.For(k == 0 ? 0 : slices, [&](uint32_t s) {
        Sum(out, static_cast<uint32_t>(parallel::SliceStart(k, s, slices)),
            static_cast<uint32_t>(parallel::SliceStart(k, s + 1, slices)));
    });
    End();
}

uint32_t Synthesis::Begin(uint32_t count) {
    m = count;
    // Every channel's stream is at the same place.
    from = plan.channels > 0 ? pulses[0].Next() : position;
    upto = plan.channels > 0 ? pulses[0].ReadyAt(position + m) : position;
    return static_cast<uint32_t>(upto - from);  // at most m + 251 < room
}

void Synthesis::Channel(uint32_t i, const double* row) {
    const auto k = static_cast<uint32_t>(upto - from);
    pulses[i].Push(row, m);
    if (k == 0) {
        return;
    }
    pulses[i].Pull(upto, scratch.Pulses(i), scratch.Held(i));
    carriers.Process(i, scratch.Held(i), scratch.Pulses(i), k, bands.Carrier(i));
    bands.Filter(i, k);
}

void Synthesis::End() {
    bands.Advance(static_cast<uint32_t>(upto - from));
    position += m;
}

std::vector<double> PulseGains(const block::NoiseChain& noise, const PulseEnergies& pulses,
                               uint32_t channels) {
    std::vector<double> gains(channels);
    for (uint32_t i = 0; i < channels; i++) {
        gains[i] = Carriers::PulseGain(noise.Energy(i), pulses.Energy(i));
    }
    return gains;
}

std::vector<RandomState> NoiseStarts(const block::NoiseChain& noise, uint32_t channels) {
    std::vector<RandomState> starts;
    for (uint32_t i = 0; i < channels; i++) {
        starts.push_back(noise.Start(i));
    }
    return starts;
}

}  // namespace stages
