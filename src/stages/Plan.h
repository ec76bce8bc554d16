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
    uint32_t channels = 0;        // n_inserted_ch
    uint32_t detection = 0;       // envelope_detection: 0 quadrature FIRs, 1 rectify and low-pass
    Bands analysis;               // f_min (cutoff_freq under eas) to f_max
    Bands synthesis;              // = analysis, or the place frequencies under freq_shift
    std::vector<Taps> detectSin;  // detection 0: the quadrature pair of each band
    std::vector<Taps> detectCos;
    std::vector<Recursive> bandPass;  // detection 1: each band's order-3 band-pass
    Recursive detectorLowPass;        // detection 1: order 2 at 350 Hz
    Recursive smoothing;              // order 2 at rate / 2.4, before and after the selection
    std::vector<Taps> synthesisTaps;  // the FIR that band-limits each modulated carrier
    Recursive acousticLowPass;        // eas: order 2 at cutoff_freq
    double interactionFactor = 0;     // weight of an adjacent channel
    std::vector<double> weights;      // weight at a distance of d channels
    double rate = 0;                  // stimulation frames per second
    uint32_t nOn = 0;                 // channels selected per frame
    double synchronization = 0;       // share of the pulse train in the carrier
    bool eas = false;
};

// The two recursive designs the whole-signal classes share with the plan: the smoothing
// (order 2 at rate / 2.4: an envelope changes little within a frame) and the hearing aid's
// low-pass under eas (order 2 at cutoff_freq).
std::unique_ptr<LP_FilterIIR> SmoothingFilter(double sampleRate, double rate);
std::unique_ptr<LP_FilterIIR> AcousticLowPass(double sampleRate, double cutoff);

// The plan for a parameter set (its values as they are, constraints already applied).
Plan MakePlan(const Parameters& parameters, uint32_t sampleRate);

}  // namespace stages
