#pragma once

// The plan of a simulation: everything its stages are designed from, computed once from the
// effective settings and the sample rate, and nothing else. It is a plain value: the stages of
// the offline simulation, of the stream and the design a caller is shown (Describe) all read the
// same one.

#include <cihear/cihear.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/Kernels.h"

class LP_FilterIIR;
class Parameters;

namespace stages {

constexpr uint32_t kTaps = kernel_sizes::kTaps;  // every FIR of the simulation
using Taps = std::array<double, kTaps>;

// A recursive filter's coefficients (a[0] = 1), as FilterIIR holds them.
struct Recursive {
    std::vector<double> a;
    std::vector<double> b;
    uint32_t Count() const { return static_cast<uint32_t>(a.size()); }
};

// Per channel, the edges, centre and width of its band in Hz.
struct Bands {
    std::vector<double> low;
    std::vector<double> high;
    std::vector<double> center;
    std::vector<double> width;
};

struct Plan {
    cihear::Settings settings;  // the effective settings
    uint32_t sampleRate = cihear::kOutputRate;
    // The electrodes: n_inserted_ch of them, 1 the most apical; the channels are the active
    // ones, lowest band first: channel c is electrode electrodes[c], at position
    // positions[c] = electrodes[c] - 1 on the array (in electrode spacings from the apex).
    uint32_t electrodeCount = 0;
    std::vector<uint32_t> electrodes;
    std::vector<uint32_t> positions;
    uint32_t channels = 0;   // the active electrodes (n_inserted_ch unless some are off)
    uint32_t detection = 0;  // envelope_detection: 0 quadrature FIRs, 1 rectify and low-pass
    // The analysis bands: band_edges (a map's or the list's), or the layout `bands` of f_min
    // (cutoff_freq under eas) to f_max, reallocated over the active electrodes.
    Bands analysis;
    // = analysis, or under freq_shift each channel at its electrode's place frequencies.
    Bands synthesis;
    std::vector<Taps> detectSin;  // detection 0: the quadrature pair of each band
    std::vector<Taps> detectCos;
    std::vector<Recursive> bandPass;  // detection 1: each band's order-3 band-pass
    Recursive detectorLowPass;        // detection 1: order 2 at 350 Hz
    Recursive smoothing;              // order 2 at rate / 2.4, before and after the selection
    std::vector<Taps> synthesisTaps;  // the FIR that band-limits each modulated carrier
    Recursive acousticLowPass;        // eas: order 2 at cutoff_freq
    double interactionFactor = 0;     // weight of adjacent electrodes
    std::vector<double> weights;      // weight at a distance of d electrodes (d < electrodeCount)
    double rate = 0;                  // stimulation frames per second
    uint32_t nOn = 0;                 // channels selected per frame
    double synchronization = 0;       // share of the pulse train in the carrier
    bool eas = false;
    bool sine = false;          // carrier sine: a tone per channel instead of noise and pulses
    bool zeroPhase = false;     // sine_phase zero
    std::vector<double> tones;  // carrier sine: each channel's tone in Hz (see Tone.h)

    // Whether every channel is at its own position (no electrode is off): the spread then needs
    // no positions.
    bool Contiguous() const { return channels == electrodeCount; }
};

// The two recursive designs the whole-signal classes share with the plan: the smoothing
// (order 2 at rate / 2.4: an envelope changes little within a frame) and the hearing aid's
// low-pass under eas (order 2 at cutoff_freq).
std::unique_ptr<LP_FilterIIR> SmoothingFilter(double sampleRate, double rate);
std::unique_ptr<LP_FilterIIR> AcousticLowPass(double sampleRate, double cutoff);

// The plan for effective settings (from ApplyStrict or ApplyCompatible), or for a parameter
// set (its values as they are, constraints already applied).
Plan MakePlan(const cihear::Settings& settings, uint32_t sampleRate);
Plan MakePlan(const Parameters& parameters, uint32_t sampleRate);

}  // namespace stages
