#pragma once

// The implant models' parameters between themselves and the strategy's: the device maps' tables,
// what a map or a list of band edges sets, what switched-off electrodes cap, and what these
// values cannot be given the others.

#include <cihear/cihear.h>

#include <cstdint>
#include <string>
#include <vector>

namespace params {

// The choices' indices, in the order of their names in the parameter list.
enum Layout : unsigned { kLog = 0, kGreenwood = 1, kLinear = 2, kErb = 3 };
enum Map : unsigned { kNoMap = 0, kNucleus22 = 1, kAb16 = 2, kMedel12 = 3 };
enum Carrier : unsigned { kPulseNoise = 0, kSine = 1 };
enum SinePhase : unsigned { kRandomPhase = 0, kZeroPhase = 1 };

// A device map's band edges in Hz, lowest first (empty for none), and where the table comes
// from, for reports.
std::vector<double> MapEdges(unsigned map);
const char* MapSource(unsigned map);

// The electrodes switched off in `s` as numbers 1..n (sorted), and the active ones; both
// assume OffRefusal(s) is empty.
std::vector<uint32_t> OffElectrodes(const cihear::Settings& s);
std::vector<uint32_t> ActiveElectrodes(const cihear::Settings& s);

// Why the band edges (a map's or the list's) or the switched-off electrodes of `s`, whose
// strategy parameters are already effective and whose map has set its edges, cannot be taken;
// each empty when they can.
std::string EdgesRefusal(const cihear::Settings& s);
std::string OffRefusal(const cihear::Settings& s);

// The models' parameters back at their defaults.
void ClearModels(cihear::Settings& s);

// The models' consequences, applied to effective strategy settings: a map sets its band edges;
// band edges set n_inserted_ch (and n_chan_ci: a map's electrode count, or raised to hold the
// channels), f_min and f_max, and cap n_on; switched-off electrodes cap n_on at the active ones.
// Values that cannot be taken change nothing (the setups report them).
void ResolveModels(cihear::Settings& e);

// Every model value of the requested settings that cannot be taken (errors), and the models'
// cascades and ineffective values (warnings), worded for the person who gave them. `base` holds
// the effective strategy settings before ResolveModels, `effective` after it.
void CheckModels(const cihear::Settings& requested, const cihear::Settings& base,
                 const cihear::Settings& effective, std::vector<cihear::Message>& errors,
                 std::vector<cihear::Message>& warnings);

}  // namespace params
