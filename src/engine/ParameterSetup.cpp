// Effective settings: the command line's compatible setup and the library's strict one.
#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

#include "engine/Engine.h"
#include "params/Models.h"
#include "params/ParameterRules.h"
#include "params/Parameters.h"
#include "params/SettingsFields.h"
#include "params/ValueText.h"

namespace engine {

namespace {

void Set(ParameterDouble* p, double v) {
    p->SetValue(v);
}
void Set(ParameterUnsigned* p, unsigned v) {
    p->SetValue(v);
}
void Set(ParameterBool* p, bool v) {
    p->SetValue(v);
}

// Calls f(member, field) for each member of `p` and the field of `s` of the same name, in
// member order.
template <class S, class F>
void Pair(Parameters& p, S& s, F f) {
#define CIHEAR_PAIR_MEMBER(name, ...) f(p.name, s.name);
    CIHEAR_STRATEGY_PARAMETERS(CIHEAR_PAIR_MEMBER)
#undef CIHEAR_PAIR_MEMBER
}

}  // namespace

Parameters* MakeParameters(const cihear::Settings& settings) {
    // Member order matters: f_max is set while eas is still off, and each channel count before
    // the one it caps.
    auto p = std::make_unique<Parameters>();
    Pair(*p, settings, [](auto* member, auto value) { Set(member, value); });
    return p.release();
}

cihear::Settings ReadParameters(const Parameters& parameters) {
    return parameters.GetSettings();
}

cihear::Settings Effective(const cihear::Settings& settings) {
    // The rules give what the parameter set's setters give (ParameterRulesTest); a choice out of
    // its range keeps its default there.
    cihear::Settings e = params::Resolve(settings);
    if (!params::EdgesRefusal(e).empty()) {
        e.band_edges.clear();
        e.map = params::kNoMap;
    }
    if (!params::OffRefusal(e).empty()) {
        e.off.clear();
    }
    return e;
}

}  // namespace engine

namespace cihear {

namespace {

using params::Number;

// The command line caps both counts at the implant's channel count before setting anything.
void CapAtImplantChannels(Settings& s, std::vector<Message>& warnings) {
    if (s.n_inserted_ch > s.n_chan_ci) {
        s.n_inserted_ch = s.n_chan_ci;
        warnings.push_back({"n_inserted_ch",
                            "n_inserted_ch changed to n_chan_ci = " + std::to_string(s.n_chan_ci)});
    }
    if (s.n_on > s.n_chan_ci) {
        s.n_on = s.n_chan_ci;
        warnings.push_back({"n_on", "n_on changed to n_chan_ci = " + std::to_string(s.n_chan_ci)});
    }
}

}  // namespace

namespace {

// Takes each value that its parameter accepts into `requested`, and records an error for every
// other one.
void TakeStrict(const std::vector<std::pair<std::string, Value>>& values, Settings& requested,
                std::vector<Message>& errors) {
    for (const auto& value : values) {
        const std::string& name = value.first;
        const ParameterInfo* info = FindParameter(name);
        if (!info) {
            std::string known;
            for (const ParameterInfo& i : ParameterTable()) {
                known += (known.empty() ? "" : ", ") + std::string(i.name);
            }
            errors.push_back(
                {name, "unknown parameter '" + name + "'; the parameters are " + known});
            continue;
        }
        const std::string why = params::Refusal(*info, value.second);
        if (!why.empty()) {
            errors.push_back({name, why});
            continue;
        }
        params::Store(*info, value.second, requested);
    }
}

// What the strict front ends say beyond the command line's warnings: the cascades that it
// applies without a word, and an implant whose extra electrodes are not inserted.
void WarnStrict(const Settings& requested, Settings& effective, std::vector<Message>& warnings) {
    // More channels on per cycle than are inserted select them all; say so and store that.
    if (effective.n_on > effective.n_inserted_ch) {
        effective.n_on = effective.n_inserted_ch;
        warnings.push_back(
            {"n_on", "n_on changed to n_inserted_ch = " + std::to_string(effective.n_inserted_ch)});
    }
    // f_min cannot pass f_max here (that was an error), so only the cutoff, raised above f_max
    // with or without eas, can push f_max up.
    if (effective.f_max != requested.f_max) {
        warnings.push_back(
            {"f_max", effective.eas
                          ? "f_max raised from " + Number(requested.f_max) + " to " +
                                Number(effective.f_max) + " to stay above cutoff_freq"
                          : "f_max raised to cutoff_freq = " + Number(effective.cutoff_freq) +
                                " Hz although eas is off; set cutoff_freq to use a "
                                "lower f_max"});
    }
    // Only the inserted electrodes are simulated: an implant with more electrodes whose
    // inserted count stays at its default simulates no more channels. (Judged by the values,
    // not by which were given: some front ends pass every value.)
    if (requested.n_inserted_ch == Settings().n_inserted_ch &&
        effective.n_chan_ci > effective.n_inserted_ch) {
        const std::string inserted = std::to_string(effective.n_inserted_ch);
        warnings.push_back({"n_chan_ci", std::to_string(effective.n_chan_ci) + " electrodes, " +
                                             inserted + " inserted: set n_inserted_ch (up to " +
                                             std::to_string(effective.n_chan_ci) +
                                             ") to simulate more than " + inserted + " channels"});
    }
}

enum class Policy { kCompatible, kStrict };

// What the two setups share: the channel counts capped (a warning each), then the rules.
// The strict policy also refuses an f_max below f_min (an error: the settings stay as
// requested) and reports the cascades the rules applied.
Applied Apply(const Settings& requested, Policy policy) {
    Applied applied;
    if (policy == Policy::kStrict && requested.f_max < requested.f_min) {
        applied.errors.push_back({"f_max", "f_max = " + Number(requested.f_max) +
                                               " is below f_min = " + Number(requested.f_min) +
                                               "; accepted: f_min to 10000 (Hz)"});
        applied.settings = requested;
        return applied;
    }
    Settings s = requested;
    CapAtImplantChannels(s, applied.warnings);
    // The strategy's effective values alone, then with the models' consequences.
    Settings strategy = s;
    params::ClearModels(strategy);
    Settings base = params::Resolve(strategy);
    applied.settings = params::Resolve(s);
    if (policy == Policy::kStrict) {
        WarnStrict(requested, base, applied.warnings);
        applied.settings.n_on = std::min(applied.settings.n_on, base.n_on);
    }
    // The models' values are checked in either policy.
    params::CheckModels(requested, base, applied.settings, applied.errors, applied.warnings);
    if (!applied.ok()) {
        applied.settings = requested;
    }
    return applied;
}

}  // namespace

Applied ApplyCompatible(const Settings& requested) {
    return Apply(requested, Policy::kCompatible);
}

Applied ApplyStrict(const std::vector<std::pair<std::string, Value>>& values) {
    Applied applied;
    Settings requested;
    TakeStrict(values, requested, applied.errors);
    if (!applied.ok()) {
        applied.settings = requested;
        return applied;
    }
    return Apply(requested, Policy::kStrict);
}

}  // namespace cihear
