#pragma once

#include <cihear/cihear.h>

// Calls f(info, field) for each of the thirteen fields of `settings` with its table entry, in
// the table's order (the order of setting).
template <class S, class F>
void ForEachSetting(S& s, F f) {
    const std::vector<cihear::ParameterInfo>& t = cihear::ParameterTable();
    f(t[0], s.rate);
    f(t[1], s.f_min);
    f(t[2], s.f_max);
    f(t[3], s.length_ci);
    f(t[4], s.n_chan_ci);
    f(t[5], s.n_inserted_ch);
    f(t[6], s.n_on);
    f(t[7], s.interact_decay);
    f(t[8], s.envelope_detection);
    f(t[9], s.synchronization);
    f(t[10], s.eas);
    f(t[11], s.cutoff_freq);
    f(t[12], s.freq_shift);
}
