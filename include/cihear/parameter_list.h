// The one list of the simulation parameters. Everything that names them is derived from it:
// cihear::Settings, ParameterTable() (and through it the command line's options and help, the
// strict setup's checks, the Python keywords and documentation, the MEX help and the page's
// controls), GetValue and the engine's parameter set.
//
// CIHEAR_PARAMETERS(X) calls X once per parameter, in the order they are set (the rules between
// them follow that order): first the coding strategy's thirteen (CIHEAR_STRATEGY_PARAMETERS, the
// command line's first group of options), then the implant models' (CIHEAR_MODEL_PARAMETERS, its
// second group, "Implant models"). Each entry is
//   X(name, type, kind, choices, letter, unit, default, min, max, bound, summary, help)
// `type` is the field's C++ type in Settings and `kind` its ValueKind without the k:
//   Real, Count, Switch  a number (double, unsigned, bool), its default and fixed bounds;
//   Choice  one of the names in `choices` ("log|greenwood"), held as its index (unsigned), the
//           default an index and the bounds 0 and the last index;
//   List    numbers (std::vector<double>, default empty), each within min and max.
// `choices` is "" for every other kind. To add a parameter: add a line here and read the field in
// the stage that uses it; every front end then offers it.
#pragma once

#include <vector>

// clang-format off
#define CIHEAR_STRATEGY_PARAMETERS(X)                                                               \
    X(rate, double, Real, "", 'r', "pulses/s", 1800, 10, 10000, "",                                     \
      "stimulation rate of each electrode",                                                         \
      "Stimulation rate (in pulses per second) for each electrode.")                                \
    X(f_min, double, Real, "", 0, "Hz", 300, 20, 5000, "",                                              \
      "lower edge of the implant's frequency range",                                                \
      "Lower limit of the spectral range processed by the cochlear implant system, expressed "      \
      "in Hz.")                                                                                     \
    X(f_max, double, Real, "", 0, "Hz", 8500, 500, 10000, "at least f_min",                            \
      "upper edge of the implant's frequency range; cutoff_freq (default 2000 Hz) raises it "       \
      "when above it, whether eas is on or off",                                                    \
      "Upper limit of the spectral range processed by the cochlear implant, expressed in "          \
      "Hz.")                                                                                        \
    X(length_ci, double, Real, "", 'l', "mm", 30, 1, 30, "",                                            \
      "length of the electrode array",                                                              \
      "Length of the electrode array of the cochlear implant, in mm.")                              \
    X(n_chan_ci, unsigned, Count, "", 0, "channels", 12, 1, 50, "",                                     \
      "electrodes of the implant; only the inserted ones are simulated, so more electrodes "        \
      "need a higher n_inserted_ch",                                                                \
      "Number of channels in the cochlear implant.")                                                \
    X(n_inserted_ch, unsigned, Count, "", 0, "channels", 12, 1, 50, "at most n_chan_ci",                \
      "electrodes inserted in the cochlea, the channels simulated (capped at n_chan_ci)",           \
      "Number of channels inserted in the cochlea during the surgery.")                             \
    X(n_on, unsigned, Count, "", 0, "channels", 12, 1, 50, "at most n_inserted_ch",                     \
      "channels stimulated per cycle, the N of N-of-M (capped at the inserted channels)",           \
      "Number of electrodes which are activated in each stimulation cycle of the m electrodes "     \
      "switched on.")                                                                               \
    X(interact_decay, double, Real, "", 'd', "mm", 2, 0.0001, 100, "",                                  \
      "length constant of the current spread between electrodes",                                   \
      "Interaction coefficient (in mm) to model interaction among channels.")                       \
    X(envelope_detection, unsigned, Count, "", 'e', "", 0, 0, 1, "",                                    \
      "envelope detection: 0 Hilbert transform of FIR bands, 1 rectified IIR bands low-passed "     \
      "at 350 Hz",                                                                                  \
      "Procedure used for the envelope detection in the coding strategy. Two options can be "       \
      "selected: Hilbert+FIR (0) (filter bank with finite impulsive response filters and "          \
      "envelope detection based on the Hilbert transform) or Rect-LP+IIR (1) (filter bank "         \
      "with infinite impulsive response filters and envelope detection based on "                   \
      "rectification and low-pass filtering.")                                                      \
    X(synchronization, double, Real, "", 0, "", 1, 0, 1, "",                                            \
      "share of the pulse-train carrier in the noise/pulse blend (0 noise, 1 pulses)",              \
      "The synchronization capability of the neural activity with the stimulation is modeled "      \
      "with this parameter.")                                                                       \
    X(eas, bool, Switch, "", 0, "", 0, 0, 1, "",                                                        \
      "electro-acoustic stimulation: the input below cutoff_freq is added acoustically",            \
      "Electro-Acoustic Stimulation: This parameter allows to simulate the audition of a "          \
      "patient for whom the electrical stimulation through the cochlear implant is combined "       \
      "with the acoustic stimulation through a hearing aid.")                                       \
    X(cutoff_freq, double, Real, "", 'c', "Hz", 2000, 20, 5000, "",                                     \
      "crossover between hearing aid (below) and implant (above) under eas; raises f_max "          \
      "when above it, whether eas is on or off",                                                    \
      "For the case of Electro-Acoustic Stimulation (EAS), this is the cutoff-frequency which "     \
      "determines the frequency range processed by the hearing aid and by the cochlear "            \
      "implant.")                                                                                   \
    X(freq_shift, bool, Switch, "", 0, "", 0, 0, 1, "",                                                 \
      "synthesise at the electrodes' place frequencies instead of the analysis bands",              \
      "By switching this option on, the synthesis is performed taking into account the "            \
      "frequency corresponding to the position of each electrode of the implant according to "      \
      "the place theory.")

#define CIHEAR_MODEL_PARAMETERS(X)                                                                  \
    X(bands, unsigned, Choice, "log|greenwood|linear|erb", 0, "", 0, 0, 3, "",                     \
      "how the analysis bands divide the range: equal steps of log frequency, of cochlear place "  \
      "(Greenwood's map), of Hz, or of ERB number",                                                 \
      "How the analysis bands divide f_min..f_max: log (equal steps of log frequency), "           \
      "greenwood (equal steps of cochlear place), linear (equal steps in Hz) or erb (equal "       \
      "steps of ERB number).")                                                                      \
    X(band_edges, std::vector<double>, List, "", 0, "Hz", 0, 20, 10000, "increasing, below 10000", \
      "the band edges in Hz, n_inserted_ch + 1 of them, replacing the layout; they set the "       \
      "channel count, f_min and f_max",                                                             \
      "Band edges in Hz, lowest first, one more than the channels (E.g: 188,313,438,563): they "   \
      "replace the layout and set the channel count, f_min and f_max.")                            \
    X(map, unsigned, Choice, "none|nucleus22|ab16|medel12", 0, "", 0, 0, 3, "",                     \
      "a device's default frequency table, setting the band edges and the channel count",          \
      "A device's default frequency table: nucleus22 (22 channels, 188-7938 Hz), ab16 (16 "        \
      "channels, 250-8700 Hz) or medel12 (12 channels log-spaced over 100-8500 Hz, an "            \
      "approximation); none keeps the layout.")                                                     \
    X(off, std::vector<double>, List, "", 0, "", 0, 1, 50, "whole numbers, at most n_inserted_ch",  \
      "electrodes switched off, 1 the most apical; the range is reallocated over the others",      \
      "Electrodes switched off (E.g: 3,7), 1 being the most apical: the frequency range is "       \
      "reallocated over the active electrodes, which keep their places.")                          \
    X(carrier, unsigned, Choice, "pulse-noise|sine", 0, "", 0, 0, 1, "",                            \
      "what the envelopes modulate: the noise and pulse-train blend, or a tone per channel",       \
      "What each channel's envelope modulates: pulse-noise (the noise and pulse-train carriers "   \
      "blended by synchronization) or sine (a tone at the centre of the channel's band).")         \
    X(sine_phase, unsigned, Choice, "random|zero", 0, "", 0, 0, 1, "",                              \
      "the sine carrier's start phases: drawn from the seed per channel, or all zero",             \
      "Start phase of each channel's tone under carrier sine: random (drawn from the seed) or "    \
      "zero.")

#define CIHEAR_PARAMETERS(X)      \
    CIHEAR_STRATEGY_PARAMETERS(X) \
    CIHEAR_MODEL_PARAMETERS(X)
// clang-format on

// The expansions every list shares: a Settings field, and a ParameterTable() entry.
#define CIHEAR_DEFAULT_Real(type, def) static_cast<type>(def)
#define CIHEAR_DEFAULT_Count(type, def) static_cast<type>(def)
#define CIHEAR_DEFAULT_Switch(type, def) static_cast<type>(def)
#define CIHEAR_DEFAULT_Choice(type, def) static_cast<type>(def)
#define CIHEAR_DEFAULT_List(type, def) \
    type {}
#define CIHEAR_SETTINGS_FIELD(name, type, kind, choices, letter, unit, def, ...) \
    type name = CIHEAR_DEFAULT_##kind(type, def);
#define CIHEAR_TABLE_ENTRY(name, type, kind, choices, letter, unit, def, min, max, bound, summary, \
                           help)                                                                   \
    {#name, letter, ::cihear::ValueKind::k##kind, unit, def, min, max, bound, summary,             \
     help,  choices},
