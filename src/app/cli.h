#pragma once

#include <cihear/cihear.h>

#include <cstdint>
#include <memory>
#include <string>

#include "wav/WaveFile.h"

namespace parallel {
class Team;
}

class Parameters;
class Signal;

// The values taken from the command line: the files and the thirteen simulation parameters.
// The initial values are the options' defaults.
struct CliOptions : cihear::Settings {
    std::string input;
    std::string output = "output.wav";
};

// The program's entry: parses the command line and performs one run. Returns main's status:
// 1 after printing the help, -1 on a command-line error, otherwise the run's status: 0, or -1
// when the input could not be loaded, the output could not be saved or memory ran out.
int cliMain(int argc, char* argv[]);

// Loads a 16-bit PCM WAV file, mono or stereo (mixed to mono), as a new signal owned by the
// caller, converted to cihear::kOutputRate when the file has another rate. On failure prints an
// "error: " line to standard error and returns null.
Signal* read(const char* name);

// read in two steps, with the same "error: " lines: the file opened and its header checked, and
// the length its signal will have; then the samples loaded.
struct OpenedInput {
    WaveFile wave;
    uint32_t length = 0;  // samples at the internal rate
};
bool OpenInput(const char* name, OpenedInput& input);
std::unique_ptr<Signal> LoadInput(OpenedInput& input);

// Writes count samples as a 16-bit mono WAV file at cihear::kOutputRate, like save.
// The conversion to 16 bits runs on `team` when given (the run's threads), else on a team
// made for it.
bool SaveSamples(const double* samples, uint32_t count, const char* name,
                 parallel::Team* team = nullptr);

// Writes signal as a 16-bit mono WAV file at cihear::kOutputRate, whatever the signal's own
// rate. The file appears complete or not at all: on failure an existing file of that name is
// left as it was, an "error: " line goes to standard error and the result is false.
bool save(Signal* signal, const char* name);

// A new parameter set (owned by the caller) with each member set once from the options, in
// member order. Values a member refuses leave what the defaults and earlier members made of it.
Parameters* SetupParameters(const CliOptions& options);
