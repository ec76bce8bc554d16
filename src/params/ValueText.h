#pragma once

#include <cihear/cihear.h>

#include <string>

namespace params {

// v with twelve significant digits, as messages write numbers.
std::string Number(double v);

// What a parameter accepts, for messages: "10 to 10000 (pulses/s)", "one of log, greenwood,
// linear, erb", "numbers from 20 to 10000 separated by commas, increasing, below 10000 (Hz)".
std::string Accepted(const cihear::ParameterInfo& info);

// Why `v` cannot be the value of `info` by the parameter's fixed bounds and kind, as a whole
// sentence naming the parameter, the value and what is accepted; empty when it can. A single
// number is a list of one.
std::string Refusal(const cihear::ParameterInfo& info, const cihear::Value& v);

// Stores a value Refusal accepts into the field of `info` in `settings`.
void Store(const cihear::ParameterInfo& info, const cihear::Value& v, cihear::Settings& settings);

}  // namespace params
