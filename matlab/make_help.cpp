// Writes cihear_simulate.m, the help of the MEX function, with the parameters taken from the
// parameter table:
//   cihear_matlab_help > matlab/cihear_simulate.m     (re)writes it
//   cihear_matlab_help --check matlab/cihear_simulate.m   fails when the file is out of date
#include <cihear/cihear.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* kBefore =
    R"(%CIHEAR_SIMULATE  What a cochlear-implant user would roughly hear of a sound.
%   Y = CIHEAR_SIMULATE(X, FS) simulates the sound X, sampled at FS Hz, with the cihear
%   program's default settings and returns the result at 20000 Hz as a double column vector,
%   as long as X (after conversion to 20000 Hz) and normalised to a peak of 0.9999, as the
%   program makes it of a file holding X. CIHEAR_TO_PCM16(Y) gives the 16-bit samples the
%   program writes to its output file.
%
%   X is one of:
%     - a real double or single vector (mono), every sample finite, full scale 1;
%     - a real double or single N-by-2 matrix (stereo): the mean of the two columns;
%     - an int16 vector or N-by-2 matrix, taken exactly as the program takes a 16-bit file
%       (a stereo pair summed, halved and truncated toward zero, then divided by 32768).
%   A 1-by-2 row is two mono samples. FS is a whole number of Hz, 1 to 4294967295.
%
%   Y = CIHEAR_SIMULATE(X, FS, NAME, VALUE, ...) sets parameters by name; those not named keep
%   their defaults. A value outside its range, a count that is not a whole number, a switch
%   other than 0, 1, false or true, a logical value for a parameter that is not a switch, or
%   an unknown name is an error. When a value changes another parameter (cutoff_freq above f_max
%   raises f_max, whether eas is on or off; fewer channels cap n_inserted_ch and n_on), and
%   when more electrodes than inserted ones are set (only the inserted ones are simulated), a
%   warning with the identifier cihear:cascade says so.
%
%   A choice takes a character vector naming one of its values ('map', 'nucleus22'); a list
%   takes a real double vector ('off', [3 7]; 'band_edges', [188 313 438 ...]), or [] for
%   none. The implant models' values are always checked together: band edges that do not
%   increase, a map together with other band edges, an electrode that is not inserted or every
%   electrode switched off is an error.
%
)";

// The help ends at the first line that is not a comment: the lines up to the note that the file
// is generated must all be comments.
const char* kAfter = R"(%
%   [Y, INFO] = CIHEAR_SIMULATE(...) also returns a struct INFO with the fields:
%     parameters       the effective value of every parameter, after the cascades
%     seed             the seed, or [] for none
%     sampleRate       FS
%     outputRate       20000, the rate of Y
%     bands            each channel's analysis band in Hz: a struct of column vectors
%                      low, high, center and bandwidth
%     synthesisBands   the band each channel is synthesised in (the electrodes' place
%                      frequencies under freq_shift)
%     measuredBands, measuredSynthesisBands
%                      the -3 dB edges of the filters actually used (center: their
%                      geometric mean)
%     frameStarts      the first sample of each stimulation frame, as an index into Y
%     frameLengths     the number of samples of each frame
%     frameTimes       the start of each frame in seconds
%     electrodogram    channels-by-frames: the level each channel holds over each frame
%                      right after the N-of-M selection (0 when not selected)
%     selected         channels-by-frames logical: the channels selected in each frame
%     electrodes       each channel's electrode, 1 the most apical (channel 1 is the lowest
%                      band): a switched-off electrode has no channel
%     off              the electrodes switched off
%     version          the cihear library's version
%
%   Errors have the identifiers cihear:badInput (X), cihear:badSampleRate (FS),
%   cihear:badParameter (a name or a value), cihear:badArguments (the number of arguments),
%   cihear:rateTooLow (FS too low for that many samples) and cihear:outOfMemory.
%
%   Example:
%     [x, fs] = audioread('speech.wav', 'native');   % int16 samples
%     y = cihear_simulate(x, fs, 'n_on', 4);
%     y = cihear_simulate(x, fs, 'map', 'nucleus22', 'off', [3 7], 'carrier', 'sine');
%     sound(y, 20000);
%
%   See also CIHEAR_TO_PCM16.

% Generated from the parameter table by matlab/make_help.cpp; change the text there.
)";

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.12g", v);
    return text;
}

// The strategy's parameters, the first ones of the table; the implant models' follow.
#define CIHEAR_COUNT_ONE(...) +1
constexpr size_t kStrategyParameters = 0 CIHEAR_STRATEGY_PARAMETERS(CIHEAR_COUNT_ONE);
#undef CIHEAR_COUNT_ONE

// A choice's names, quoted as MATLAB writes them: 'log', 'greenwood', ...
std::string Names(const cihear::ParameterInfo& p) {
    std::string names = p.choices, text = "'";
    for (char c : names) {
        text += c == '|' ? std::string("', '") : std::string(1, c);
    }
    return text + "'";
}

// The default as a name-value pair writes it.
std::string Default(const cihear::ParameterInfo& p) {
    if (p.kind == cihear::ValueKind::kList) {
        return "[] (none)";
    }
    if (p.kind == cihear::ValueKind::kChoice) {
        std::string names = p.choices;
        for (double i = 0; i < p.defaultValue; i++) {
            names = names.substr(names.find('|') + 1);
        }
        return "'" + names.substr(0, names.find('|')) + "'";
    }
    return Number(p.defaultValue);
}

std::string Accepted(const cihear::ParameterInfo& p) {
    std::string text;
    if (p.kind == cihear::ValueKind::kChoice) {
        return "one of " + Names(p);
    }
    if (p.kind == cihear::ValueKind::kList) {
        text = "a vector of numbers from " + Number(p.min) + " to " + Number(p.max);
    } else if (p.kind == cihear::ValueKind::kSwitch) {
        text = "0 or 1 (or false or true)";
    } else if (p.kind == cihear::ValueKind::kCount && p.max == p.min + 1) {
        text = Number(p.min) + " or " + Number(p.max);
    } else if (p.kind == cihear::ValueKind::kCount) {
        text = "whole numbers from " + Number(p.min) + " to " + Number(p.max);
    } else {
        text = Number(p.min) + " to " + Number(p.max);
    }
    if (*p.bound) {
        text += ", " + std::string(p.bound);
    }
    return text;
}

// The words of `text` as comment lines of at most 96 characters, the first one indented as a
// list item, the others four spaces further.
void Wrap(const std::string& text, std::ostream& out) {
    std::istringstream words(text);
    std::string line = "%     ", word;
    bool first = true;
    while (words >> word) {
        if (!first && line.size() + 1 + word.size() > 96) {
            out << line << "\n";
            line = "%         ";
            first = true;
        }
        line += (first ? "" : " ") + word;
        first = false;
    }
    out << line << "\n";
}

std::string Help() {
    std::ostringstream out;
    out << kBefore << "%   The parameters, named as the command line's long options:\n";
    const std::vector<cihear::ParameterInfo>& table = cihear::ParameterTable();
    for (size_t i = 0; i < table.size(); i++) {
        const cihear::ParameterInfo& p = table[i];
        if (i == kStrategyParameters) {
            out << "%   The implant models (channel 1 is the lowest band, on electrode 1, the most "
                   "apical):\n";
        }
        const std::string unit = *p.unit ? " (" + std::string(p.unit) + ")" : "";
        Wrap(std::string(p.name) + unit + ": " + p.summary + ". Default " + Default(p) +
                 "; accepted: " + Accepted(p) + ".",
             out);
    }
    Wrap(
        "seed: the random sequence of the carrier noise, the same for the same seed; none, or "
        "[], is the program's own sequence. Default none; accepted: whole numbers from 0 to " +
            Number(double(cihear::kMaxSeed)) + ".",
        out);
    out << kAfter;
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string help = Help();
    if (argc == 1) {
        std::cout << help;
        return 0;
    }
    if (argc == 3 && std::string(argv[1]) == "--check") {
        std::ifstream file(argv[2], std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        if (!file || text.str() != help) {
            std::cerr << argv[2] << " does not match the parameter table: rewrite it with\n  "
                      << argv[0] << " > " << argv[2] << "\n";
            return 1;
        }
        return 0;
    }
    std::cerr << "usage: " << argv[0] << " [--check FILE]\n";
    return 2;
}
