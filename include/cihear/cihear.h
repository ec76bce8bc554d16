// cihear: what a cochlear-implant user would roughly hear of a sound, as a library.
//
//   cihear::Applied applied = cihear::ApplyStrict({{"n_on", 8}, {"rate", 900}});
//   if (!applied.ok()) { /* applied.errors[0].message says what is wrong */ }
//   cihear::Result r = cihear::Simulate(samples.data(), samples.size(), 44100,
//                                       applied.settings);
//   // r.output: the simulation at cihear::kOutputRate Hz, peak-normalised like the program's.
//
// Nothing here touches a file or keeps state between calls: every simulation owns what it
// needs (its random sequence included), so simulations may run at once in several threads.
#pragma once

#include <cihear/parameter_list.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace cihear {

// The library's version, shared by the Python package and the reports.
const char* Version();

// Every simulation runs, and every output is written, at this rate.
constexpr uint32_t kOutputRate = 20000;

// The simulation parameters, named as the command line's long options, with its defaults (the
// list and its defaults are in cihear/parameter_list.h): the coding strategy's thirteen, then
// the implant models' (band layout, band edges, device map, switched-off electrodes, carrier).
struct Settings {
    CIHEAR_PARAMETERS(CIHEAR_SETTINGS_FIELD)
};

// How a parameter's value is written: a real number, a whole count, a switch (0 or 1), one of
// a few names (held as its index: bands, map, carrier, sine_phase), or a list of numbers
// (band_edges, off).
enum class ValueKind { kReal, kCount, kSwitch, kChoice, kList };

// One parameter as the program describes it. The table lists them in the order they are set,
// which the constraints between them depend on.
struct ParameterInfo {
    const char* name;  // the long option name and the keyword
    char letter;       // the short option letter, or 0
    ValueKind kind;
    const char* unit;  // "Hz", "mm", "pulses/s", ... or "" for none
    double defaultValue;
    double min;  // the fixed bounds; `bound` names any bound set by another parameter
    double max;
    const char* bound;    // e.g. "at most n_chan_ci", or ""
    const char* summary;  // one line for documentation
    const char* help;     // the command line's help text
    const char* choices;  // a choice's names, "|" between them ("log|greenwood"), or ""
};
const std::vector<ParameterInfo>& ParameterTable();
// The entry named `name`, or null.
const ParameterInfo* FindParameter(const std::string& name);
// A parameter's value in `settings` as a number (a switch as 0 or 1, a choice as its index, a
// list as NaN: see GetParameter).
double GetValue(const Settings& settings, const ParameterInfo& info);

// A value as a front end gives it: a number, a name (a choice's) or a list of numbers.
struct Value {
    enum class Kind { kNumber, kName, kList };
    Kind kind = Kind::kNumber;
    double number = 0;
    std::string name;
    std::vector<double> list;

    Value() = default;
    Value(double v) : number(v) {}                                   // NOLINT: a number is a value
    Value(int v) : number(v) {}                                      // NOLINT
    Value(unsigned v) : number(v) {}                                 // NOLINT
    Value(const char* n) : kind(Kind::kName), name(n) {}             // NOLINT
    Value(std::string n) : kind(Kind::kName), name(std::move(n)) {}  // NOLINT
    Value(std::vector<double> l) : kind(Kind::kList), list(std::move(l)) {}  // NOLINT
};

// A parameter's value in `settings`: a number, a choice's name or a list.
Value GetParameter(const Settings& settings, const ParameterInfo& info);

// The value written as `text`, as a command line or a batch grid writes it: a number, a
// choice's name, or a list of numbers separated by commas ("188,313,438"; "" for none). Returns
// false, with `error` saying what is accepted, when the text is none of what the parameter takes.
bool ParseValue(const ParameterInfo& info, const std::string& text, Value& value,
                std::string& error);
// A parameter's value in `settings` as ParseValue reads it: the number (as the shortest text that
// reads back to it), the choice's name, or the list with commas between its numbers.
std::string FormatValue(const Settings& settings, const ParameterInfo& info);

// Something the caller should know: the parameter it concerns ("" for none) and a sentence.
struct Message {
    std::string parameter;
    std::string text;
};

// The effective settings after the constraints, the adjustments the cascades made (warnings),
// and, in strict mode, every value that could not be taken (errors).
struct Applied {
    Settings settings;
    std::vector<Message> warnings;
    std::vector<Message> errors;
    bool ok() const { return errors.empty(); }
};

// The command line's way: values out of range are refused silently (the default, or what an
// earlier parameter made of it, stays); the cascades apply; capping a channel count at
// n_chan_ci is a warning ("n_on changed to n_chan_ci = 8").
Applied ApplyCompatible(const Settings& requested);

// The implant models' parameters are always checked as ApplyStrict checks them: a value they
// cannot take (a band edge list that does not increase, an electrode that is not inserted, every
// electrode switched off, a map together with other band edges) is an error in either way.

// The library's way: each named value must be in its range, a count a whole number, a switch 0
// or 1, a choice one of its names and a list's numbers each within its bounds (a single number
// is a list of one); anything else, or an unknown name, is an error naming the parameter, the
// value and what is accepted. Unnamed parameters keep their defaults. The cascades apply, each
// reported as a warning.
Applied ApplyStrict(const std::vector<std::pair<std::string, Value>>& values);
// The same for numbers alone.
template <class Number, class = std::enable_if_t<std::is_arithmetic_v<Number>>>
Applied ApplyStrict(const std::vector<std::pair<std::string, Number>>& values) {
    return ApplyStrict(std::vector<std::pair<std::string, Value>>(values.begin(), values.end()));
}

// A failure, with the text the command line prints after "error: ".
struct Status {
    // kUnsupportedEncoding: a WAV file whose samples are not 16-bit PCM, which the program
    // does not read (its message is the program's "could not read samples from file").
    // kCancelled: Options::cancelled asked the simulation to stop.
    enum Code {
        kOk,
        kBadInput,
        kRateTooLow,
        kOutOfMemory,
        kCannotOpen,
        kCannotWrite,
        kUnsupportedEncoding,
        kCancelled,
    };
    Code code = kOk;
    std::string message;
    bool ok() const { return code == kOk; }
};

// The seed of the carrier noise. None: the sequence a fresh run of the program draws, so the
// output equals the program's. A number from 0 to kMaxSeed: another sequence, the same for
// the same number.
constexpr int64_t kMaxSeed = 2147483643;

// The output gain of a stream by default: speech at -20 dBFS RMS in comes out at about
// -20 dBFS RMS at the default settings (examples/speech.wav, cihear_stream_bench).
constexpr double kStreamOutputGain = 1.5;

struct Options {
    std::optional<int64_t> seed;
    // Fill Result::inspection (bands, frames, electrodogram).
    bool inspect = false;
    // With inspect: also keep every channel's final envelope (large: channels x samples).
    bool envelopes = false;
    // When given, asked between blocks of work (a few times per second of input or less, on
    // one of the simulation's threads at a time, mostly the calling one): true stops the
    // simulation, which then gives kCancelled and no output.
    std::function<bool()> cancelled;
    // Run the Stream over the whole signal instead: the output is the concatenation of
    // Stream::Process over the signal and Stream::Flush (the signal's length + Latency()
    // samples), with the stream's seed, input gain and output gain (below). The inspection then
    // holds the design only.
    bool live = false;
    double inputGain = 1.0;                 // with live: StreamOptions::inputGain
    double outputGain = kStreamOutputGain;  // with live: StreamOptions::outputGain
};

// A frequency band of one channel, in Hz.
struct Band {
    double low;
    double high;
    double center;
    double bandwidth;
};

// A filter's coefficients: b the numerator (an FIR's taps), a the denominator (empty for an
// FIR), for y[n] = sum b[k] x[n-k] - sum_{k>=1} a[k] y[n-k] with a[0] = 1.
struct Filter {
    std::vector<double> b;
    std::vector<double> a;
};

// The processing a set of effective settings describes, from the simulation's own objects.
struct Design {
    Settings settings;                 // the effective settings
    std::vector<Band> bands;           // analysis band per channel, nominal
    std::vector<Band> synthesisBands;  // = bands, or the place frequencies under freq_shift
    // The -3 dB edges (relative to each filter's peak) measured from the frequency response of
    // the filters actually used; center is their geometric mean.
    std::vector<Band> measuredBands;
    std::vector<Band> measuredSynthesisBands;
    // Per channel: envelope_detection 0, the sine FIR of the band's quadrature pair (its cosine
    // partner has the same band); 1, the order-3 Butterworth band-pass.
    std::vector<Filter> analysisFilters;
    std::vector<Filter> synthesisFilters;  // the FIR that band-limits each modulated carrier
    Filter detectorLowPass;        // envelope_detection 1: the 350 Hz order-2 low-pass; else empty
    Filter smoothing;              // order 2 at rate / 2.4, applied before and after the selection
    Filter acousticLowPass;        // eas: order 2 at cutoff_freq; else empty
    double interactionFactor = 0;  // weight of adjacent electrodes
    std::vector<double> interactionWeights;  // weight at a distance of d electrodes
    // The electrodes: n_inserted_ch of them, 1 the most apical (the lowest band). Channel c
    // (of bands, filters, the electrodogram's rows) is electrode electrodes[c]; the switched-off
    // electrodes have no channel.
    uint32_t electrodeCount = 0;
    std::vector<uint32_t> electrodes;
    std::vector<uint32_t> off;
    // carrier sine: each channel's tone in Hz, the geometric centre of its synthesis band
    // (the middle of the band on the cochlea's logarithmic frequency axis); empty otherwise.
    std::vector<double> tones;
};

// The design for effective settings, without simulating anything.
Design Describe(const Settings& settings);

// What the simulation did, taken from the simulation itself.
struct Inspection {
    Design design;
    // Stimulation frames at kOutputRate: frame c (c >= 1) starts at floor((c-1) fs / rate).
    std::vector<int64_t> frameStarts;
    std::vector<int64_t> frameLengths;
    // channels x frames, row by row: the level each channel holds over each frame right after
    // the N-of-M selection (0 when it was not selected), and whether it was selected.
    size_t channels = 0;
    size_t frames = 0;
    std::vector<double> electrodogram;
    std::vector<uint8_t> selected;
    // channels x samples, row by row, when asked for: the envelopes the synthesis modulates.
    std::vector<double> envelopes;
};

struct Result {
    Status status;
    std::vector<double> output;  // at kOutputRate, the input's duration
    Inspection inspection;       // filled when Options::inspect
};

// Simulates `count` mono samples at `sampleRate` Hz (any whole rate from 1 Hz) with effective
// settings (from ApplyStrict or ApplyCompatible). Inputs at another rate are converted to
// kOutputRate first, as the program converts its files; a rate too low for the input's length,
// or so high that the input lasts less than one output sample, is refused (kRateTooLow,
// kBadInput), and so are a null `samples` with a count and any NaN or infinity (kBadInput).
// Output samples are not clipped: see ToPcm16 for the file's values.
//
// Any finite level is simulated: the output does not depend on the input's level (it is
// peak-normalised), and an input whose peak lies outside 2^-64 .. 2^64 is first scaled by a
// power of two to a peak of 0.5 .. 1, which changes no bit of the result. Under eas the
// acoustic part keeps the input's level at kOutputRate (so a very quiet input adds nothing
// audible to the implant's part, a very loud one drowns it); at other rates the converted
// input is peak-normalised, as the program's files are, whatever its level.
Result Simulate(const double* samples, size_t count, uint32_t sampleRate, const Settings& settings,
                const Options& options = Options());

// A WAV file's samples as the program takes them: mono (stereo mixed as MixStereo16 mixes it),
// scaled as FromPcm16 scales them, at the file's own rate.
struct WavSamples {
    Status status;
    std::vector<double> samples;
    uint32_t sampleRate = 0;
};

// Reads the WAV file at `path` exactly as the program loads its input: the same files
// accepted, and the same refusals with the program's messages ("could not open file" with
// kCannotOpen, "file is truncated: ...", "unsupported number of channels (3); ...", a rate
// too low or too high for the file's length, "could not read samples from file"). A file whose
// samples are not 16-bit PCM gives kUnsupportedEncoding. A FIFO or other file that cannot seek
// is refused at once, without waiting for a writer.
WavSamples ReadWav(const std::string& path);

// Simulates the WAV file at `path` as the program does (cihear -i path): the file is read a
// block at a time straight into the conversion to kOutputRate, so that only the converted
// signal is held whole. Refuses what ReadWav refuses, with the same status and message.
Result SimulateWav(const std::string& path, const Settings& settings,
                   const Options& options = Options());
// The settings of a stream besides the simulation's.
struct StreamOptions {
    // As Options::seed (0 .. kMaxSeed); none: a fixed default sequence. Each channel draws its
    // noise from a sequence of its own, set by the seed and the channel's number.
    std::optional<int64_t> seed;
    double inputGain = 1.0;  // the input is multiplied by this (it is not peak-normalised)
    // The output is the channels' sum times this (it is not peak-normalised either); under eas
    // the low-passed input is added to that at the level it has after the input gain, as
    // Simulate adds it to the normalised implant part. See kStreamOutputGain.
    double outputGain = kStreamOutputGain;
};

// The simulation as a causal stream at kOutputRate, for audio that arrives in blocks (a
// microphone, a sound card's callback). It runs the stages of Simulate with what cannot be known
// in advance replaced: no peak normalisation (the gains above instead), each channel's noise
// from its own sequence, and each channel's pulse-train gain sqrt(E_noise / E_pulse) from the
// energies accumulated since the start (or the last Reset). The channel envelopes equal
// Simulate's for the same samples at kOutputRate (bit for bit at input gain 1; scaled by the
// input gain otherwise) up to Simulate's last stimulation frame, and the output is the same
// whatever the sizes of the blocks it is fed in.
//
// Allocation-free, lock-free and single-threaded in Process, Flush and Reset after
// construction; one stream is used by one thread at a time.
class Stream {
public:
    // Throws std::invalid_argument when the seed is out of range or a gain is not finite.
    explicit Stream(const Settings& settings, const StreamOptions& options = StreamOptions());
    ~Stream();
    Stream(Stream&&) noexcept;
    Stream& operator=(Stream&&) noexcept;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // count samples in (at kOutputRate), count samples out, delayed by Latency() against the
    // offline simulation (the first Latency() samples after construction are silence). `in` and
    // `out` may be the same array. An input sample that is not a finite number is taken as 0;
    // output beyond [-1, 1] is clamped (see Clipped).
    void Process(const double* in, size_t count, double* out);
    // The tail: writes exactly Latency() samples, as if Latency() zeros were fed.
    void Flush(double* out);
    // The delay in samples at kOutputRate, fixed by the settings: 251 (the pulse trains look
    // 250 samples ahead, plus the one sample a peak needs after it), or 0 at synchronization 0,
    // where the carrier is the noise alone and no pulse is waited for, and with carrier sine.
    size_t Latency() const;
    // Back to the state after construction.
    void Reset();
    // Output samples beyond [-1, 1] (clamped) since construction or the last Reset.
    uint64_t Clipped() const;
    const Settings& GetSettings() const;
    const StreamOptions& GetOptions() const;

    class Core;  // the stages (internal)

private:
    std::unique_ptr<Core> core;
};

// The program's input steps, for callers that hold 16-bit samples: the mono mix of interleaved
// stereo frames (the pair summed, halved and truncated toward zero) and the scaling v / 32768.
std::vector<int16_t> MixStereo16(const int16_t* interleaved, size_t frames);
std::vector<double> FromPcm16(const int16_t* samples, size_t count);

// The 16-bit value the program stores for an output sample; and for count samples, into out.
int16_t ToPcm16(double sample);
void ToPcm16(const double* samples, size_t count, int16_t* out);

// Writes 16-bit samples as the program's output file (mono PCM WAV at kOutputRate, the same
// bytes), replacing an existing file only once the new one is complete and on stable storage;
// on failure (kCannotOpen, kCannotWrite, with the program's message) nothing is left behind
// and an existing file is as it was.
Status WriteWav16(const std::string& path, const int16_t* samples, size_t count);

}  // namespace cihear
