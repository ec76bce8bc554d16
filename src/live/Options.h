#pragma once

#include <cihear/cihear.h>

#include <string>
#include <utility>
#include <vector>

namespace live {

// What cihear-live was asked to do.
struct LiveOptions {
    // The simulation parameters given, by their table names (checked by cihear::ApplyStrict):
    // numbers, and the implant models' names and lists.
    std::vector<std::pair<std::string, cihear::Value>> simulation;
    bool help = false;
    bool listDevices = false;
    bool jack = false;
    std::vector<std::string> connectIn, connectOut;
    std::string inputDevice, outputDevice;
    unsigned period = 0;    // 0: JACK's, or 256 frames
    double deviceRate = 0;  // 0: the output device's default rate
    std::string play;
    bool loop = false;
    double mix = 0;
    bool bypass = false;
    std::string recordInput, record;
};

// Reads the command line. False, with `error` saying what is wrong and what to do, when it
// cannot be taken; `help` holds the listing of the options.
bool ParseLiveOptions(int argc, const char* const* argv, LiveOptions& options, std::string& help,
                      std::string& error);

}  // namespace live
