// Fuzzes the simulation parameters as front ends write them: any bytes as lines "name=text",
// read as the command line reads a value (ParseValue), taken by the strict setup, then the
// design described and a short signal simulated offline and as a stream. Either a value is
// refused with a message, or the settings are taken and every output sample is finite, the
// offline output has the input's length and the stream's the input's plus its latency.

#include <cihear/cihear.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FuzzInput.h"

using fuzzinput::Require;

namespace {

// The lines of `text` as (name, value text) pairs; a line without '=' names no parameter.
std::vector<std::pair<std::string, std::string>> Lines(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> lines;
    size_t start = 0;
    while (start < text.size() && lines.size() < 24) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        const size_t eq = line.find('=');
        lines.emplace_back(line.substr(0, eq), eq == std::string::npos ? "" : line.substr(eq + 1));
        start = end + 1;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) {
        return 0;
    }
    std::vector<std::pair<std::string, cihear::Value>> values;
    for (const auto& line : Lines(std::string(reinterpret_cast<const char*>(data), size))) {
        const cihear::ParameterInfo* info = cihear::FindParameter(line.first);
        if (!info) {
            continue;
        }
        cihear::Value value;
        std::string error;
        if (!cihear::ParseValue(*info, line.second, value, error)) {
            Require(!error.empty(), "a refused value says why");
            continue;
        }
        values.emplace_back(line.first, value);
    }
    const cihear::Applied applied = cihear::ApplyStrict(values);
    if (!applied.ok()) {
        Require(!applied.errors.front().text.empty(), "a refusal says why");
        return 0;
    }
    // Keep each run short: 30 ms of sound.
    const cihear::Design design = cihear::Describe(applied.settings);
    Require(!design.bands.empty(), "at least one channel");
    Require(design.bands.size() == design.electrodes.size(), "a channel per active electrode");
    std::vector<double> x(600);
    for (size_t j = 0; j < x.size(); j++) {
        x[j] = 0.5 * std::sin(0.05 * j * (1 + j % 7));
    }
    const cihear::Result r = cihear::Simulate(x.data(), x.size(), 20000, applied.settings);
    Require(r.status.ok() && r.output.size() == x.size(), "the offline output has the length");
    for (double v : r.output) {
        Require(std::isfinite(v), "offline output finite");
    }
    cihear::Stream stream(applied.settings);
    std::vector<double> out(x.size() + stream.Latency());
    stream.Process(x.data(), x.size(), out.data());
    stream.Flush(out.data() + x.size());
    for (double v : out) {
        Require(std::isfinite(v) && std::fabs(v) <= 1.0, "stream output finite and clamped");
    }
    return 0;
}
