#include "params/ParameterRules.h"

#include <string>
#include <type_traits>

#include "params/Models.h"
#include "params/SettingsFields.h"

namespace params {

namespace {

using cihear::ParameterInfo;
using cihear::Settings;

const ParameterInfo& Info(const char* name) {
    return *cihear::FindParameter(name);
}

// Stores v when it lies within [lo, hi]; written as two "admit" tests so that a NaN is refused.
template <class T>
bool Take(T v, double lo, double hi, T& field) {
    if (v >= lo && hi >= v) {
        field = v;
        return true;
    }
    return false;
}

template <class T>
bool Take(T v, const ParameterInfo& info, T& field) {
    return Take(v, info.min, info.max, field);
}

// f_max's lower bound depends on the values already taken.
void TakeFmax(double v, Settings& e) {
    const ParameterInfo& info = Info("f_max");
    const double lowerEdge = e.eas ? e.cutoff_freq : e.f_min;
    Take(v, info.min > lowerEdge ? info.min : lowerEdge, info.max, e.f_max);
}

void RaiseFmaxTo(double edge, Settings& e) {
    if (edge > e.f_max) {
        TakeFmax(edge, e);
    }
}

// A channel count caps the one below it, whether or not its own value was taken.
void TakeInserted(unsigned v, Settings& e) {
    Take(v, Info("n_inserted_ch"), e.n_inserted_ch);
    if (e.n_inserted_ch < e.n_on) {
        Take(e.n_inserted_ch, Info("n_on"), e.n_on);
    }
}

void TakeChannels(unsigned v, Settings& e) {
    Take(v, Info("n_chan_ci"), e.n_chan_ci);
    if (e.n_chan_ci < e.n_inserted_ch) {
        TakeInserted(e.n_chan_ci, e);
    }
}

}  // namespace

Settings Resolve(const Settings& requested) {
    Settings e;
    ForEachSettingPair(e, requested, [&e](const ParameterInfo& info, auto& field, auto v) {
        using T = decltype(v);
        const std::string name = info.name;
        if constexpr (std::is_same_v<T, bool>) {
            field = v;
        } else if constexpr (std::is_same_v<T, unsigned>) {
            if (name == "n_chan_ci") {
                TakeChannels(v, e);
            } else if (name == "n_inserted_ch") {
                TakeInserted(v, e);
            } else {
                Take(v, info, field);
            }
        } else if constexpr (!std::is_arithmetic_v<T>) {
            field = v;  // a name or a list: checked when it is requested
        } else if (name == "f_max") {
            TakeFmax(v, e);
        } else if (Take(v, info, field) && (name == "f_min" || name == "cutoff_freq")) {
            RaiseFmaxTo(field, e);
        }
    });
    ResolveModels(e);
    return e;
}

}  // namespace params
