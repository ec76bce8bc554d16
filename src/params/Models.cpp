#include "params/Models.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "params/BandEdges.h"

namespace params {

using cihear::Message;
using cihear::Settings;

namespace {

std::string Number(double v) {
    std::ostringstream text;
    text.precision(12);
    text << v;
    return text.str();
}

std::string Count(size_t v) {
    return std::to_string(v);
}

const char* MapName(unsigned map) {
    static const char* const names[] = {"none", "nucleus22", "ab16", "medel12"};
    return names[map < 4 ? map : 0];
}

// What sets the band edges, for messages: "map nucleus22" or "band_edges".
std::string EdgesOrigin(const Settings& s) {
    return s.map != kNoMap ? std::string("map ") + MapName(s.map) : std::string("band_edges");
}

}  // namespace

std::vector<double> MapEdges(unsigned map) {
    switch (map) {
        case kNucleus22:
            return {188,  313,  438,  563,  688,  813,  938,  1063, 1188, 1313, 1563, 1813,
                    2063, 2313, 2688, 3063, 3563, 4063, 4688, 5313, 6063, 6938, 7938};
        case kAb16:
            return {250,  416,  494,  587,  697,  828,  983,  1168, 1387,
                    1648, 1958, 2326, 2762, 3281, 3898, 4630, 8700};
        case kMedel12:
            return LayoutEdges(kLog, 100, 8500, 12);
        default:
            return {};
    }
}

const char* MapSource(unsigned map) {
    switch (map) {
        case kNucleus22:
            return "the default frequency allocation table of 22-electrode Nucleus implants, as "
                   "the "
                   "manufacturer's clinical guidance lists it (and as the Praat vocoder of Winn "
                   "and the MATLAB vocoder of Gaudrain list it)";
        case kAb16:
            return "the default frequency table of 16-channel Advanced Bionics implants, as the "
                   "manufacturer's clinical guidance lists it (and as the Praat vocoder of Winn "
                   "lists it)";
        case kMedel12:
            return "an approximation of the default of 12-electrode MED-EL implants: 12 "
                   "log-spaced bands over 100-8500 Hz (the manufacturer's own table is fitted "
                   "per recipient)";
        default:
            return "";
    }
}

std::vector<uint32_t> OffElectrodes(const Settings& s) {
    std::vector<uint32_t> off;
    for (double v : s.off) {
        off.push_back(static_cast<uint32_t>(v));
    }
    std::sort(off.begin(), off.end());
    return off;
}

std::vector<uint32_t> ActiveElectrodes(const Settings& s) {
    const std::vector<uint32_t> off = OffElectrodes(s);
    std::vector<uint32_t> active;
    for (uint32_t e = 1; e <= s.n_inserted_ch; e++) {
        if (!std::binary_search(off.begin(), off.end(), e)) {
            active.push_back(e);
        }
    }
    return active;
}

std::string EdgesRefusal(const Settings& s) {
    const std::vector<double>& e = s.band_edges;
    if (s.map != kNoMap && !e.empty() && e != MapEdges(s.map)) {
        return std::string("map ") + MapName(s.map) +
               " sets the band edges: give map or band_edges, not both";
    }
    if (e.empty()) {
        return "";
    }
    if (e.size() < 2 || e.size() > 51) {
        return "band_edges has " + Count(e.size()) +
               " edges; accepted: 2 to 51 (one more than the channels, 1 to 50)";
    }
    for (size_t k = 1; k < e.size(); k++) {
        if (!(e[k] > e[k - 1])) {
            return "band_edges must increase: " + Number(e[k]) + " follows " + Number(e[k - 1]);
        }
    }
    if (e.back() >= 10000) {
        return "band_edges' last edge " + Number(e.back()) +
               " Hz is not below 10000 Hz (half the simulation's rate)";
    }
    if (e.front() > 5000 || e.back() < 500) {
        return "band_edges must start at most at 5000 Hz and end at least at 500 Hz (the ranges of "
               "f_min and f_max); they run from " +
               Number(e.front()) + " to " + Number(e.back()) + " Hz";
    }
    return "";
}

std::string OffRefusal(const Settings& s) {
    std::vector<double> seen;
    for (double v : s.off) {
        if (v != std::floor(v) || v < 1) {
            return "off = " + Number(v) + " is not an electrode number (a whole number from 1)";
        }
        if (v > s.n_inserted_ch) {
            return "off = " + Number(v) + " is not an inserted electrode; accepted: 1 to " +
                   Count(s.n_inserted_ch) + " (n_inserted_ch), 1 the most apical";
        }
        if (std::find(seen.begin(), seen.end(), v) != seen.end()) {
            return "off lists electrode " + Number(v) + " twice";
        }
        seen.push_back(v);
    }
    if (!s.off.empty() && s.off.size() >= s.n_inserted_ch) {
        return "off switches off every electrode (" + Count(s.off.size()) + " of " +
               Count(s.n_inserted_ch) + "); at least one must stay on";
    }
    return "";
}

void ClearModels(Settings& s) {
    const Settings defaults;
#define CIHEAR_CLEAR_MODEL(name, ...) s.name = defaults.name;
    CIHEAR_MODEL_PARAMETERS(CIHEAR_CLEAR_MODEL)
#undef CIHEAR_CLEAR_MODEL
}

void ResolveModels(Settings& e) {
    if (e.map != kNoMap && e.band_edges.empty()) {
        e.band_edges = MapEdges(e.map);
    }
    if (!e.band_edges.empty() && EdgesRefusal(e).empty()) {
        const auto n = static_cast<unsigned>(e.band_edges.size() - 1);
        e.n_chan_ci = e.map != kNoMap ? n : std::max(e.n_chan_ci, n);
        e.n_inserted_ch = n;
        e.n_on = std::min(e.n_on, n);
        e.f_min = e.band_edges.front();
        e.f_max = e.band_edges.back();
    }
    if (!e.off.empty() && OffRefusal(e).empty()) {
        e.n_on = std::min(e.n_on, static_cast<unsigned>(e.n_inserted_ch - e.off.size()));
    }
}

namespace {

// What the band edges changed: `base` the settings before the models' consequences.
void WarnEdges(const Settings& requested, const Settings& base, const Settings& e,
               std::vector<Message>& warnings) {
    const std::string by = " by " + EdgesOrigin(e);
    if (e.n_inserted_ch != base.n_inserted_ch) {
        warnings.push_back(
            {"n_inserted_ch", "n_inserted_ch set to " + Count(e.n_inserted_ch) + by});
    }
    if (e.n_chan_ci != base.n_chan_ci) {
        warnings.push_back({"n_chan_ci", "n_chan_ci set to " + Count(e.n_chan_ci) + by});
    }
    if (e.f_min != base.f_min || e.f_max != base.f_max) {
        warnings.push_back({"f_min", "f_min and f_max set to " + Number(e.f_min) + " and " +
                                         Number(e.f_max) + " Hz" + by});
    }
    if (requested.bands != kLog) {
        warnings.push_back({"bands", "bands is not used: " + EdgesOrigin(e) + " sets the edges"});
    }
    if (e.eas && e.cutoff_freq > e.f_min) {
        warnings.push_back(
            {"cutoff_freq",
             "under eas the hearing aid covers up to cutoff_freq = " + Number(e.cutoff_freq) +
                 " Hz and the bands " + "start at " + Number(e.f_min) + " Hz: the two overlap"});
    }
}

}  // namespace

void CheckModels(const Settings& requested, const Settings& base, const Settings& effective,
                 std::vector<Message>& errors, std::vector<Message>& warnings) {
    Settings asked = base;  // the strategy's effective values, the models' as requested
    asked.band_edges = requested.band_edges;
    asked.map = requested.map;
    const std::string edges = EdgesRefusal(asked);
    if (!edges.empty()) {
        errors.push_back({requested.map != kNoMap ? "map" : "band_edges", edges});
        return;
    }
    const std::string off = OffRefusal(effective);
    if (!off.empty()) {
        errors.push_back({"off", off});
        return;
    }
    if (!effective.band_edges.empty()) {
        WarnEdges(requested, base, effective, warnings);
    }
    if (effective.n_on != base.n_on) {
        warnings.push_back(
            {"n_on", effective.off.empty()
                         ? "n_on changed to n_inserted_ch = " + Count(effective.n_inserted_ch)
                         : "n_on changed to the " + Count(effective.n_on) + " active electrode" +
                               (effective.n_on == 1 ? "" : "s") + " (" +
                               Count(effective.off.size()) + " switched off)"});
    }
    if (effective.carrier == kSine && requested.synchronization != Settings().synchronization) {
        warnings.push_back({"synchronization", "synchronization does not apply to carrier sine"});
    }
    if (effective.carrier != kSine && requested.sine_phase != kRandomPhase) {
        warnings.push_back({"sine_phase", "sine_phase applies to carrier sine only"});
    }
}

}  // namespace params
