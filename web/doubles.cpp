// The simulation's output before its conversion to 16 bits, for comparing the page's doubles
// with the native ones: the input read as the command line reads it, the settings set by the
// library's strict setup.
//
//   cihear_web_doubles in.wav out.f64 [name value]...   (a value as the command line writes it)
#include <cihear/cihear.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/cli.h"
#include "engine/Engine.h"
#include "signal/Signal.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s in.wav out.f64 [name value]...\n", argv[0]);
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
    std::unique_ptr<Signal> input(read(argv[1]));
    if (!input) {
        return 1;
    }
    const cihear::Result r = engine::SimulateInternal(std::move(input), applied.settings, {});
    FILE* out = std::fopen(argv[2], "wb");
    if (!out ||
        std::fwrite(r.output.data(), sizeof(double), r.output.size(), out) != r.output.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "could not write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
