#pragma once

#include <cihear/cihear.h>

#include <optional>
#include <string>
#include <vector>

namespace params {

// A choice's names, in the order of their indices (empty for the other kinds).
std::vector<std::string> ChoiceNames(const cihear::ParameterInfo& info);

// The index of the name `name` among a choice's names, or none.
std::optional<unsigned> FindChoice(const cihear::ParameterInfo& info, const std::string& name);

// Why `values` cannot be the value of a list parameter (empty when they can): each must be a
// finite number within the parameter's bounds.
std::string ListRefusal(const cihear::ParameterInfo& info, const std::vector<double>& values);

}  // namespace params
