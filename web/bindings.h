#pragma once

// What the page's bindings (engine.cpp, stream.cpp) share.
#include <emscripten/val.h>

#include <string>
#include <utility>
#include <vector>

namespace web {

// [[name, value], ...] from the page, in its order.
std::vector<std::pair<std::string, double>> Values(const emscripten::val& pairs);

}  // namespace web
