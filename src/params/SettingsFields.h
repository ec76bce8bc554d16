#pragma once

#include <cihear/cihear.h>

#include <cstddef>

// Calls f(info, field) for each field of `settings` with its table entry, in the table's order
// (the order of setting).
template <class S, class F>
void ForEachSetting(S& s, F f) {
    const std::vector<cihear::ParameterInfo>& t = cihear::ParameterTable();
    size_t i = 0;
#define CIHEAR_VISIT_FIELD(name, ...) f(t[i++], s.name);
    CIHEAR_PARAMETERS(CIHEAR_VISIT_FIELD)
#undef CIHEAR_VISIT_FIELD
}

// The same for the coding strategy's fields alone (the first entries of the table).
template <class S, class F>
void ForEachStrategySetting(S& s, F f) {
    const std::vector<cihear::ParameterInfo>& t = cihear::ParameterTable();
    size_t i = 0;
#define CIHEAR_VISIT_STRATEGY(name, ...) f(t[i++], s.name);
    CIHEAR_STRATEGY_PARAMETERS(CIHEAR_VISIT_STRATEGY)
#undef CIHEAR_VISIT_STRATEGY
}

// Calls f(info, a.field, b.field) for each field of two settings, in the table's order.
template <class A, class B, class F>
void ForEachSettingPair(A& a, B& b, F f) {
    const std::vector<cihear::ParameterInfo>& t = cihear::ParameterTable();
    size_t i = 0;
#define CIHEAR_VISIT_PAIR(name, ...) f(t[i++], a.name, b.name);
    CIHEAR_PARAMETERS(CIHEAR_VISIT_PAIR)
#undef CIHEAR_VISIT_PAIR
}
