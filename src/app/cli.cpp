#include "app/cli.h"

#include <boost/program_options.hpp>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "dsp/Parallel.h"
#include "engine/Engine.h"
#include "params/Parameters.h"
#include "params/SettingsFields.h"
#include "params/ValueText.h"
#include "signal/Signal.h"

namespace po = boost::program_options;

namespace {

// The options in the order of the help listing: help, the two files, then the simulation
// parameters as the parameter table describes them, each bound to its field of `options`; the
// fields' initial values are the defaults shown.
void DescribeOptions(po::options_description& description, CliOptions& o) {
    description.add_options()               //
        ("help,h", "produce help message")  //
        ("input,i", po::value<std::string>(&o.input)->required(),
         "wav input file. E.g: -i input.wav")  //
        ("output,o", po::value<std::string>(&o.output)->default_value(o.output),
         "wav output file. E.g: -o output.wav");
    ForEachStrategySetting(
        static_cast<cihear::Settings&>(o), [&](const cihear::ParameterInfo& info, auto& field) {
            using T = std::remove_reference_t<decltype(field)>;
            std::string name = info.name;
            if (info.letter) {
                name += std::string(",") + info.letter;
            }
            description.add_options()(name.c_str(), po::value<T>(&field)->default_value(field),
                                      info.help);
        });
}

// The implant models' options, after the others: each value is text, read as the parameter
// reads it (a name, or numbers separated by commas) once the line is parsed.
void DescribeModels(po::options_description& models, std::vector<std::string>& texts) {
    const std::vector<cihear::ParameterInfo>& table = cihear::ParameterTable();
    const cihear::Settings defaults;
    size_t first = 0;
    ForEachStrategySetting(defaults, [&](const cihear::ParameterInfo&, const auto&) { first++; });
    texts.resize(table.size() - first);
    for (size_t i = first; i < table.size(); i++) {
        const cihear::ParameterInfo& info = table[i];
        auto* value = po::value<std::string>(&texts[i - first]);
        const std::string shown = cihear::FormatValue(defaults, info);
        value->default_value(shown, shown.empty() ? "none" : shown);
        models.add_options()(info.name, value, info.help);
    }
}

// The models' options given on the line, into `options`; false after printing the error of the
// first value that cannot be taken.
bool TakeModels(const po::variables_map& vm, const std::vector<std::string>& texts,
                CliOptions& options) {
    const std::vector<cihear::ParameterInfo>& table = cihear::ParameterTable();
    const size_t first = table.size() - texts.size();
    for (size_t i = 0; i < texts.size(); i++) {
        const cihear::ParameterInfo& info = table[first + i];
        if (vm[info.name].defaulted()) {
            continue;
        }
        cihear::Value value;
        std::string error;
        if (!cihear::ParseValue(info, texts[i], value, error)) {
            std::cerr << "error: " << error << std::endl;
            return false;
        }
        params::Store(info, value, options);
    }
    return true;
}

// Parses the command line into `options`. Returns 0 when the run should go on, otherwise the
// exit status: 1 after printing the help, -1 after printing a command-line error.
int ParseCommandLine(int argc, char* argv[], CliOptions& options) {
    po::options_description description("Allowed options");
    DescribeOptions(description, options);
    po::options_description models("Implant models");
    std::vector<std::string> texts;
    DescribeModels(models, texts);
    po::options_description all;
    all.add(description).add(models);
    try {
        po::variables_map vm;
        po::store(po::parse_command_line(argc, argv, all), vm);
        if (vm.count("help")) {
            // Before notify: help needs no input file and leaves the options untouched. The
            // first group is printed on its own, so that its layout is the models' none.
            std::cout << description << "\n" << models << "\n";
            return 1;
        }
        po::notify(vm);
        if (!TakeModels(vm, texts, options)) {
            return -1;
        }
    } catch (const po::error& e) {
        std::cerr << e.what();
        return -1;
    }
    return 0;
}

// Load, simulate, save, with one progress line per phase on standard output. Returns the exit
// status.
int RunSimulation(const CliOptions& o, const cihear::Settings& settings) {
    // Flushed, so that whoever watches a long run sees which phase it is in.
    std::cout << "Starting... "
              << "Loading input signal... " << std::flush;
    OpenedInput input;
    if (!OpenInput(o.input.c_str(), input)) {
        return -1;
    }
    // A file too short for its rate would give an empty output file with success.
    const std::string vanishing =
        engine::Vanishing(input.wave.GetNumSamples(), input.wave.GetSampleRate());
    if (!vanishing.empty()) {
        std::cerr << "error: " << vanishing << std::endl;
        return -1;
    }
    // The samples are loaded on one of the simulation's threads while another starts drawing
    // the noise. The settings are already effective: the refusals happen in the parameter set.
    // One team of threads for the whole run: the simulation, then the conversion to 16 bits.
    parallel::Team team(parallel::DefaultThreadCount());
    std::vector<double> output;
    try {
        output = engine::SimulateLoading(
                     input.length,
                     [&] {
                         std::unique_ptr<Signal> signal = LoadInput(input);
                         if (signal) {
                             std::cout << "Done" << std::endl
                                       << "Starting simulation... " << std::flush;
                         }
                         return signal;
                     },
                     settings, cihear::Options(), 1.0, &team)
                     .output;
    } catch (const BlockSimulation::LoadFailed&) {
        return -1;
    }
    std::cout << "Done" << std::endl << "Writing to file... " << std::flush;
    if (!SaveSamples(output.data(), static_cast<uint32_t>(output.size()), o.output.c_str(),
                     &team)) {
        return -1;
    }
    std::cout << "Done" << std::endl;
    return 0;
}

}  // namespace

Parameters* SetupParameters(const CliOptions& o) {
    return engine::MakeParameters(o);
}

int cliMain(int argc, char* argv[]) {
    CliOptions options;
    const int status = ParseCommandLine(argc, argv, options);
    if (status != 0) {
        return status;
    }
    // More inserted channels, or more channels on per cycle, than the implant has are capped,
    // with a warning; other values out of range are refused silently.
    const cihear::Applied applied = cihear::ApplyCompatible(options);
    for (const cihear::Message& warning : applied.warnings) {
        std::cerr << "WARNING: " << warning.text << std::endl;
    }
    // The implant models' values are checked strictly: one that cannot be taken is an error.
    if (!applied.ok()) {
        std::cerr << "error: " << applied.errors.front().text << std::endl;
        return -1;
    }
    try {
        return RunSimulation(options, applied.settings);
    } catch (const std::bad_alloc&) {
        // A very long input, or a very low sample rate raised to 20000 Hz, can need more memory
        // than there is. Whatever was made so far is freed on the way here, a temporary output
        // file included, and an existing output file is left as it was.
        std::cerr << "error: not enough memory" << std::endl;
        return -1;
    }
}
