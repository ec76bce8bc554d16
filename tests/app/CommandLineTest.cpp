#include <cihear/cihear.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/RunProgram.h"

namespace {

// Runs are made in the test's temporary directory, so nothing lands in the source tree; the
// input named does not exist.
ProgramRun RunHere(const std::vector<std::string>& args) {
    return RunProgram(args, ::testing::TempDir());
}

// The help listing wraps long texts over several lines; compare with runs of white space
// collapsed into one space.
std::string Squeezed(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool space = c == ' ' || c == '\n' || c == '\t';
        if (!space) {
            out += c;
        } else if (!out.empty() && out.back() != ' ') {
            out += ' ';
        }
    }
    return out;
}

struct HelpEntry {
    const char* heading;  // names, value and default as the listing shows them
    const char* text;
};

const HelpEntry helpEntries[] = {
    {"-h [ --help ]", "produce help message"},
    {"-i [ --input ] arg", "wav input file. E.g: -i input.wav"},
    {"-o [ --output ] arg (=output.wav)", "wav output file. E.g: -o output.wav"},
    {"-r [ --rate ] arg (=1800)", "Stimulation rate (in pulses per second) for each electrode."},
    {"--f_min arg (=300)",
     "Lower limit of the spectral range processed by the cochlear implant system, expressed in "
     "Hz."},
    {"--f_max arg (=8500)",
     "Upper limit of the spectral range processed by the cochlear implant, expressed in Hz."},
    {"-l [ --length_ci ] arg (=30)",
     "Length of the electrode array of the cochlear implant, in mm."},
    {"--n_chan_ci arg (=12)", "Number of channels in the cochlear implant."},
    {"--n_inserted_ch arg (=12)", "Number of channels inserted in the cochlea during the surgery."},
    {"--n_on arg (=12)",
     "Number of electrodes which are activated in each stimulation cycle of the m electrodes "
     "switched on."},
    {"-d [ --interact_decay ] arg (=2)",
     "Interaction coefficient (in mm) to model interaction among channels."},
    {"-e [ --envelope_detection ] arg (=0)",
     "Procedure used for the envelope detection in the coding strategy. Two options can be "
     "selected: Hilbert+FIR (0) (filter bank with finite impulsive response filters and envelope "
     "detection based on the Hilbert transform) or Rect-LP+IIR (1) (filter bank with infinite "
     "impulsive response filters and envelope detection based on rectification and low-pass "
     "filtering."},
    {"--synchronization arg (=1)",
     "The synchronization capability of the neural activity with the stimulation is modeled with "
     "this parameter."},
    {"--eas arg (=0)",
     "Electro-Acoustic Stimulation: This parameter allows to simulate the audition of a patient "
     "for whom the electrical stimulation through the cochlear implant is combined with the "
     "acoustic stimulation through a hearing aid."},
    {"-c [ --cutoff_freq ] arg (=2000)",
     "For the case of Electro-Acoustic Stimulation (EAS), this is the cutoff-frequency which "
     "determines the frequency range processed by the hearing aid and by the cochlear implant."},
    {"--freq_shift arg (=0)",
     "By switching this option on, the synthesis is performed taking into account the frequency "
     "corresponding to the position of each electrode of the implant according to the place "
     "theory."},
};

void ExpectHelp(const ProgramRun& run) {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("Allowed options:\n", 0), 0u) << run.out;
    // The first group ends with its own line break and one more; the implant models' group
    // follows, ending the same way.
    EXPECT_NE(run.out.find("place theory.\n\nImplant models:\n  --bands arg (=log)"),
              std::string::npos);
    const std::string tail = "or zero.\n\n";
    ASSERT_GE(run.out.size(), tail.size());
    EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);

    const std::string listing = Squeezed(run.out);
    size_t previous = 0;
    for (const HelpEntry& e : helpEntries) {
        SCOPED_TRACE(e.heading);
        const size_t at = listing.find(std::string(e.heading) + " " + e.text);
        ASSERT_NE(at, std::string::npos) << listing;
        EXPECT_GE(at, previous);
        previous = at;
    }
}

TEST(CommandLineTest, NoArgumentsAsksForTheInput) {
    const ProgramRun run = RunHere({});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("'--input' is required but missing"), std::string::npos) << run.err;
    EXPECT_NE(run.err.back(), '\n');
}

TEST(CommandLineTest, HelpListsEveryOptionInOrderAndIgnoresTheRest) {
    {
        SCOPED_TRACE("-h");
        ExpectHelp(RunHere({"-h"}));
    }
    {
        // No input needed, and no channel-count warning.
        SCOPED_TRACE("--help with options");
        ExpectHelp(RunHere({"--n_chan_ci", "4", "--help", "--n_on", "20", "-r", "900"}));
    }
}

TEST(CommandLineTest, ParseErrorsWinOverHelpAndReachStandardError) {
    const struct {
        std::vector<std::string> args;
        const char* mentioned;
    } cases[] = {
        {{"-h", "--bogus"}, "--bogus"},
        {{"-h", "--rate", "abc"}, "abc"},
        {{"--rate", "abc", "--help"}, "abc"},
        {{"-i", "in.wav", "--eas"}, "eas"},
        {{"-i", "in.wav", "--eas", "maybe"}, "maybe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Squeezed(testing::PrintToString(c.args)));
        const ProgramRun run = RunHere(c.args);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, "");
        ASSERT_FALSE(run.err.empty());
        EXPECT_NE(run.err.find(c.mentioned), std::string::npos) << run.err;
        EXPECT_NE(run.err.back(), '\n');
    }
}

// What follows the warnings depends on the run; these tests look at the warnings only.
const std::string insertedWarning = "WARNING: n_inserted_ch changed to n_chan_ci = 8\n";
const std::string onWarning = "WARNING: n_on changed to n_chan_ci = 8\n";

TEST(CommandLineWarningTest, BothCountsAboveTheImplantsChannels) {
    const ProgramRun run = RunHere({"-i", "missing.wav", "--n_chan_ci", "8"});
    EXPECT_EQ(run.err.rfind(insertedWarning + onWarning, 0), 0u) << run.err;
    EXPECT_EQ(run.err.find("WARNING", insertedWarning.size() + onWarning.size()),
              std::string::npos);
}

TEST(CommandLineWarningTest, OnlyInsertedChannelsAboveTheImplantsChannels) {
    const ProgramRun run = RunHere({"-i", "missing.wav", "--n_chan_ci", "8", "--n_on", "4"});
    EXPECT_EQ(run.err.rfind(insertedWarning, 0), 0u) << run.err;
    EXPECT_EQ(run.err.find("WARNING", insertedWarning.size()), std::string::npos) << run.err;
}

TEST(CommandLineWarningTest, NOnIsComparedWithTheImplantsChannelsOnly) {
    const ProgramRun run = RunHere({"-i", "missing.wav", "--n_inserted_ch", "4", "--n_on", "10"});
    EXPECT_EQ(run.err.find("WARNING"), std::string::npos) << run.err;
}

}  // namespace

namespace {

// The implant models' options: a value they cannot take is one line and status 255, before any
// file is read or written.
TEST(CommandLineModelsTest, BadValuesAreOneLineAndStatus255) {
    const std::string out = ::testing::TempDir() + "cihear_models_bad.wav";
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--map", "nucleus23"}, "error: map = 'nucleus23' is unknown; accepted: one of none,"},
        {{"--bands", "mel"}, "error: bands = 'mel' is unknown"},
        {{"--band_edges", "188,x"}, "error: band_edges = '188,x' is not a list of numbers"},
        {{"--band_edges", "400,300"}, "error: band_edges must increase"},
        {{"--off", "13"}, "error: off = 13 is not an inserted electrode"},
        {{"--off", "1,2", "--n_chan_ci", "2", "--n_inserted_ch", "2", "--n_on", "1"},
         "error: off switches off every electrode"},
        {{"--carrier", "noise"}, "error: carrier = 'noise' is unknown"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-i", CIHEAR_SOURCE_DIR "/examples/speech.wav", "-o", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(Squeezed(testing::PrintToString(args)));
        const ProgramRun run = RunHere(args);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind(c.says, 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(access(out.c_str(), F_OK), 0);
    }
}

// A run with the models' options writes what the library simulates with the same values.
TEST(CommandLineModelsTest, RunsGiveTheLibrarysSamples) {
    const std::string in = CIHEAR_SOURCE_DIR "/examples/speech.wav";
    const std::string out = ::testing::TempDir() + "cihear_models_run.wav";
    const ProgramRun run =
        RunHere({"-i", in, "-o", out, "--map", "ab16", "--off", "4,9", "--carrier", "sine"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("WARNING: n_inserted_ch set to 16 by map ab16"), std::string::npos);
    const cihear::Applied applied = cihear::ApplyStrict(
        {{"map", "ab16"}, {"off", std::vector<double>{4, 9}}, {"carrier", "sine"}});
    ASSERT_TRUE(applied.ok());
    const cihear::Result expected = cihear::SimulateWav(in, applied.settings);
    const cihear::WavSamples written = cihear::ReadWav(out);
    ASSERT_TRUE(written.status.ok());
    ASSERT_EQ(written.samples.size(), expected.output.size());
    size_t differing = 0;
    for (size_t j = 0; j < expected.output.size(); j++) {
        differing += written.samples[j] != cihear::ToPcm16(expected.output[j]) / 32768.0;
    }
    EXPECT_EQ(differing, 0u);
    unlink(out.c_str());
}

}  // namespace
