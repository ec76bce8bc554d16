#pragma once

// What the page's bindings (engine.cpp, stream.cpp) share.
#include <cihear/cihear.h>
#include <emscripten/val.h>

#include <string>
#include <utility>
#include <vector>

namespace web {

// [[name, value], ...] from the page, in its order: a string is a choice's name, an array a
// list of numbers, anything else a number.
std::vector<std::pair<std::string, cihear::Value>> Values(const emscripten::val& pairs);

}  // namespace web
