#include "live/Options.h"

#include <cihear/cihear.h>

#include <boost/program_options.hpp>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace live {

namespace po = boost::program_options;

namespace {

void DescribeAudio(po::options_description& d, LiveOptions& o) {
    d.add_options()                                         //
        ("help,h", "this help")                             //
        ("list-devices", "list the audio devices and end")  //
        ("input-device", po::value(&o.inputDevice),
         "the microphone: a number or a name (default: "
         "the system's default input)")  //
        ("output-device", po::value(&o.outputDevice),
         "the headphones: a number or a name (default: the system's default output)")  //
        ("device-rate", po::value(&o.deviceRate),
         "the devices' sample rate in Hz (default: the output device's; 40000, where the "
         "devices take it, gives the shortest delay)")  //
        ("period", po::value(&o.period),
         "frames per audio callback (default: JACK's, otherwise 256)")  //
        ("jack", "use a running JACK server directly")                  //
        ("connect-in", po::value(&o.connectIn)->composing(),
         "with --jack: the port to take the input from (default: the first capture port)")  //
        ("connect-out", po::value(&o.connectOut)->composing(),
         "with --jack: a port to send the output to (repeatable; default: the first two "
         "playback ports)")                                                                    //
        ("play", po::value(&o.play), "simulate a WAV file instead of the microphone")          //
        ("loop", "with --play: start the file again at its end")                               //
        ("mix", po::value(&o.mix), "share of the original in the output, 0 to 1 (default 0)")  //
        ("bypass", "start with the original (space switches)")                                 //
        ("record-input", po::value(&o.recordInput),
         "write the stream's input (20000 Hz, 32-bit float WAV)")  //
        ("record", po::value(&o.record), "write the stream's output (20000 Hz, 32-bit float WAV)");
}

bool Number(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(value);
}

// The simulation's options, as strings, so that the library checks them strictly: the coding
// strategy's, then the implant models' (a choice's name, a list as 3,7), as cihear names them.
void DescribeSimulation(po::options_description& strategy, po::options_description& models) {
#define CIHEAR_COUNT_ONE(...) +1
    const size_t strategyCount = 0 CIHEAR_STRATEGY_PARAMETERS(CIHEAR_COUNT_ONE);
#undef CIHEAR_COUNT_ONE
    const std::vector<cihear::ParameterInfo>& table = cihear::ParameterTable();
    for (size_t i = 0; i < table.size(); i++) {
        std::string name = table[i].name;
        if (table[i].letter) {
            name += std::string(",") + table[i].letter;
        }
        (i < strategyCount ? strategy : models)
            .add_options()(name.c_str(), po::value<std::string>(), table[i].summary);
    }
}

// The value of one simulation option, or false with `error` naming the option, the value and
// what is accepted.
bool SimulationValue(const cihear::ParameterInfo& info, const std::string& text,
                     cihear::Value& value, std::string& error) {
    if (info.kind == cihear::ValueKind::kChoice || info.kind == cihear::ValueKind::kList) {
        return cihear::ParseValue(info, text, value, error);  // the library's words
    }
    double number = 0;
    if (!Number(text, number)) {
        error = std::string("--") + info.name + " takes a number, not '" + text + "'";
        return false;
    }
    value = cihear::Value(number);
    return true;
}

// The checks between the audio options.
std::string Inconsistency(const LiveOptions& o) {
    if (!(o.mix >= 0 && o.mix <= 1)) {
        return "--mix must be between 0 and 1";
    }
    if (o.period != 0 && (o.period < 16 || o.period > 8192)) {
        return "--period must be between 16 and 8192 frames";
    }
    if (o.deviceRate != 0 && !(o.deviceRate >= 8000 && o.deviceRate <= 384000 &&
                               o.deviceRate == std::floor(o.deviceRate))) {
        return "--device-rate must be a whole number of Hz from 8000 to 384000";
    }
    if (!o.jack && (!o.connectIn.empty() || !o.connectOut.empty())) {
        return "--connect-in and --connect-out need --jack";
    }
    if (o.jack && (!o.inputDevice.empty() || !o.outputDevice.empty() || o.deviceRate != 0)) {
        return "with --jack the server chooses the devices and the rate: leave out "
               "--input-device, --output-device and --device-rate";
    }
    if (o.loop && o.play.empty()) {
        return "--loop needs --play FILE";
    }
    return "";
}

}  // namespace

bool ParseLiveOptions(int argc, const char* const* argv, LiveOptions& o, std::string& help,
                      std::string& error) {
    po::options_description audio("Audio options");
    DescribeAudio(audio, o);
    po::options_description simulation("Simulation options (as cihear's)");
    po::options_description models("Implant models (as cihear's)");
    DescribeSimulation(simulation, models);
    po::options_description all("Usage: cihear-live [options]");
    all.add(audio).add(simulation).add(models);
    std::ostringstream listing;
    listing << all;
    help = listing.str();
    po::variables_map vm;
    try {
        po::store(po::parse_command_line(argc, argv, all), vm);
        po::notify(vm);
    } catch (const po::error& e) {
        error = std::string(e.what()) + " (cihear-live --help lists the options)";
        return false;
    }
    o.help = vm.count("help") > 0;
    o.listDevices = vm.count("list-devices") > 0;
    o.jack = vm.count("jack") > 0;
    o.loop = vm.count("loop") > 0;
    o.bypass = vm.count("bypass") > 0;
    for (const cihear::ParameterInfo& info : cihear::ParameterTable()) {
        if (vm.count(info.name)) {
            cihear::Value value;
            if (!SimulationValue(info, vm[info.name].as<std::string>(), value, error)) {
                return false;
            }
            o.simulation.emplace_back(info.name, value);
        }
    }
    error = Inconsistency(o);
    return error.empty();
}

}  // namespace live
