#pragma once

// The engine's internal entry points, shared by the library functions and the command line.

#include <cihear/cihear.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dsp/BlockResampler.h"
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
// What a simulation runs with for `settings`: the rules applied (params::Resolve: the values
// the parameter set's setters would take, the models' consequences) and model values that cannot
// be taken left out (a caller may pass settings that no setup made).
cihear::Settings Effective(const cihear::Settings& settings);

// Why `frames` samples at `rate` Hz cannot be converted to the internal rate (empty when they
// can): a rate of 0, or a rate so low that holding every sample would need more memory than the
// input justifies.
std::string Unconvertible(uint64_t frames, uint32_t rate);
// Why `frames` samples at `rate` Hz give no simulation (empty when they give one): some samples
// that last less than one sample at the internal rate, whose conversion is empty. Loading them
// is not refused; simulating them is (an empty output for an input would be a failure reported
// as success).
std::string Vanishing(uint64_t frames, uint32_t rate);

// Why the program cannot load the opened WAV file, in its words ("unsupported number of
// channels (3); ...", "file is truncated: ...", ...), or "" when it can. Judged from the header
// alone, before any sample memory is reserved.
std::string Unloadable(const WaveFile& wave);
// The same as a status: kBadInput, kRateTooLow, or kUnsupportedEncoding when the samples are
// not 16-bit PCM.
cihear::Status LoadStatus(const WaveFile& wave);
// Opens `name` for reading and judges it: kCannotOpen ("could not open file") or LoadStatus.
cihear::Status OpenWave(const char* name, WaveFile& wave);

// The next frames of an accepted, opened file as the program takes them: mono (MixStereo16)
// and scaled (FromPcm16). `frames` is its working buffer; both must outlive the source.
SampleSource MonoSource(WaveFile& wave, std::vector<short>& frames);
// The length the accepted, opened file's signal has at the internal rate.
uint32_t ConvertedLength(const WaveFile& wave);
// The accepted, opened file's samples converted to the internal rate, read a block at a time
// into the conversion; null when a read fails or `cancelled` (asked before every block) says so.
std::unique_ptr<Signal> LoadConverted(WaveFile& wave, const std::function<bool()>& cancelled);

// Converts a signal at any rate to the internal rate (the signal itself when it has it).
// Assumes Unconvertible() found nothing. Null when `cancelled` (asked before every block of the
// conversion) says so.
std::unique_ptr<Signal> ToInternalRate(std::unique_ptr<Signal> signal,
                                       const std::function<bool()>& cancelled = {});

// The design a plan holds.
cihear::Design DescribePlan(const stages::Plan& plan);

// Simulates a signal at the internal rate with effective settings; the signal is consumed.
// Under eas the low-passed input is multiplied by acousticGain (a power of two) before it is
// added.
cihear::Result SimulateInternal(std::unique_ptr<Signal> input, const cihear::Settings& settings,
                                const cihear::Options& options, double acousticGain = 1.0);

// The same for the signal `load` gives, expected to have `length` samples: it is loaded on one
// of the simulation's threads while another already draws the noise. Throws
// BlockSimulation::LoadFailed when load gives none. Options::cancelled stopping the simulation
// gives kCancelled. The simulation runs on `team` when given (borrowed), else on a team of its
// own.
cihear::Result SimulateLoading(uint64_t length, const BlockSimulation::Loader& load,
                               const cihear::Settings& settings, const cihear::Options& options,
                               double acousticGain = 1.0, parallel::Team* team = nullptr);

}  // namespace engine
