#pragma once

// The engine's internal entry points, shared by the library functions and the command line.

#include <cihear/cihear.h>

#include <cstdint>
#include <memory>

#include "sim/BlockSimulation.h"

class Parameters;
class Signal;
class WaveFile;
namespace stages {
struct Plan;
}

namespace engine {

// A new parameter set (owned by the caller) with each member set once from settings, in the
// table's order. Values a member refuses leave what the defaults and earlier members made of
// it, silently.
Parameters* MakeParameters(const cihear::Settings& settings);
// The values a parameter set holds.
cihear::Settings ReadParameters(const Parameters& parameters);

// Why `frames` samples at `rate` Hz cannot be converted to the internal rate (empty when they
// can): a rate of 0, or a rate so low that holding every sample would need more memory than the
// input justifies.
std::string Unconvertible(uint64_t frames, uint32_t rate);

// Why the program cannot load the opened WAV file, in its words ("unsupported number of
// channels (3); ...", "file is truncated: ...", ...), or "" when it can. Judged from the header
// alone, before any sample memory is reserved.
std::string Unloadable(const WaveFile& wave);

// Converts a signal at any rate to the internal rate (the signal itself when it has it).
// Assumes Unconvertible() found nothing.
std::unique_ptr<Signal> ToInternalRate(std::unique_ptr<Signal> signal);

// The design a plan holds.
cihear::Design DescribePlan(const stages::Plan& plan);

// Simulates a signal at the internal rate with effective settings; the signal is consumed.
cihear::Result SimulateInternal(std::unique_ptr<Signal> input, const cihear::Settings& settings,
                                const cihear::Options& options);

// The same for the signal `load` gives, expected to have `length` samples: it is loaded on one
// of the simulation's threads while another already draws the noise. Throws
// BlockSimulation::LoadFailed when load gives none.
// The simulation runs on `team` when given (borrowed), else on a team of its own.
cihear::Result SimulateLoading(uint64_t length, const BlockSimulation::Loader& load,
                               const cihear::Settings& settings, const cihear::Options& options,
                               parallel::Team* team = nullptr);

}  // namespace engine
