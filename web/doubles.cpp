// The simulation's output before its conversion to 16 bits, for comparing the page's doubles
// with the native ones: the input read as the command line reads it, the settings set by the
// library's strict setup. With --live, the input is raw doubles at 20000 Hz (what the page's
// Live control fed its stream) and the output the library's offline equivalent of the stream
// (Options::live).
//
//   cihear_web_doubles [--live] in.wav|in.f64 out.f64 [name value]...
//   (a value as the command line writes it: a number, a name, a list "3,7")
#include <cihear/cihear.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/cli.h"
#include "engine/Engine.h"
#include "signal/Signal.h"

namespace {

// The doubles of a raw file, or none when it cannot be read whole.
std::optional<std::vector<double>> ReadDoubles(const char* path) {
    FILE* in = std::fopen(path, "rb");
    if (!in) {
        return std::nullopt;
    }
    std::vector<double> x;
    double v;
    while (std::fread(&v, sizeof v, 1, in) == 1) {
        x.push_back(v);
    }
    const bool whole = std::feof(in) && !std::ferror(in);
    std::fclose(in);
    return whole ? std::optional<std::vector<double>>(std::move(x)) : std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    const bool live = argc > 1 && std::string(argv[1]) == "--live";
    if (live) {
        argv++;
        argc--;
    }
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s [--live] in.wav|in.f64 out.f64 [name value]...\n", argv[0]);
        return 2;
    }
    // Each value written as the command line writes it: a number, a name, a list "3,7".
    std::vector<std::pair<std::string, cihear::Value>> values;
    for (int i = 3; i + 1 < argc; i += 2) {
        const cihear::ParameterInfo* info = cihear::FindParameter(argv[i]);
        cihear::Value value;
        std::string error = "unknown parameter " + std::string(argv[i]);
        if (!info || !cihear::ParseValue(*info, argv[i + 1], value, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        values.emplace_back(argv[i], value);
    }
    const cihear::Applied applied = cihear::ApplyStrict(values);
    if (!applied.ok()) {
        std::fprintf(stderr, "%s\n", applied.errors[0].text.c_str());
        return 2;
    }
    cihear::Result r;
    if (live) {
        const std::optional<std::vector<double>> x = ReadDoubles(argv[1]);
        if (!x) {
            std::fprintf(stderr, "could not read %s\n", argv[1]);
            return 1;
        }
        cihear::Options options;
        options.live = true;
        r = cihear::Simulate(x->data(), x->size(), cihear::kOutputRate, applied.settings, options);
    } else {
        std::unique_ptr<Signal> input(read(argv[1]));
        if (!input) {
            return 1;
        }
        r = engine::SimulateInternal(std::move(input), applied.settings, {});
    }
    if (!r.status.ok()) {
        std::fprintf(stderr, "%s\n", r.status.message.c_str());
        return 1;
    }
    FILE* out = std::fopen(argv[2], "wb");
    if (!out ||
        std::fwrite(r.output.data(), sizeof(double), r.output.size(), out) != r.output.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "could not write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
