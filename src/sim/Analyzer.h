#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/FilterIIR.h"
#include "dsp/Parallel.h"
#include "signal/DSP.h"

class Parameters;
namespace stages {
struct Plan;
}

// What the N-of-M selection did, frame by frame, for callers that inspect a simulation. Frame c
// (c >= 1) covers samples [start, start + length); for each frame, one level and one selection
// flag per channel, frame after frame.
struct SelectionRecord {
    std::vector<int64_t> starts;
    std::vector<int64_t> lengths;
    std::vector<double> levels;
    std::vector<uint8_t> selected;
};

// The coding strategy of the implant: turns the input sound into one envelope per inserted
// channel. Each channel's band envelope is smoothed at rate / 2.4, reduced by N-of-M selection
// with sample-and-hold per stimulation cycle, smoothed again and mixed with its neighbours by
// the current spread between electrodes.
//
// The channel count is n_inserted_ch, fixed when the analyzer is built. The parameters are
// borrowed and must outlive the analyzer.
class Analyzer {
public:
    Analyzer(Parameters* parameters, unsigned long sampleRate);
    Analyzer(const Analyzer&) = delete;
    Analyzer& operator=(const Analyzer&) = delete;
    virtual ~Analyzer();

    // Returns the channel envelopes of input, each of input's length at the analyzer's own
    // rate. The caller owns the vector; the analyzer keeps no hold on it.
    SignalVector* Run(Signal* input);

    // Fills the four band arrays from f_min (cutoff_freq under eas) to f_max.
    void CalculateFiltersFreq();

    // In each stimulation cycle keeps the n_on strongest channels of `envelopes` and holds
    // every channel's value over the cycle's frame, in place.
    void N_of_M();
    // Mixes every channel of `envelopes` with its neighbours, in place; the mixed envelopes
    // carry the analyzer's rate.
    void InteractionChannels();
    // The interaction factor between two adjacent channels.
    double InteractionCoeff();
    // The weight of a channel at a distance of d channels, for d = 0 .. channels - 1.
    std::vector<double> InteractionWeights();

    // The working envelopes, for inspection; null once Run has handed them over.
    SignalVector* GetEnvelopes() const { return envelopes.get(); }
    // Takes ownership of v (one signal per channel, equal lengths) as the working envelopes,
    // deleting the previous ones.
    void SetEnvelopes(SignalVector* v) { envelopes.reset(v); }

    // Where N_of_M records its frames (borrowed; null, the default, records nothing).
    void SetSelectionRecord(SelectionRecord* record) { selectionRecord = record; }

    // The threads the channels are worked on by (at least 1; by default
    // parallel::DefaultThreadCount() when the analyzer is built). The results do not depend on it.
    void SetThreads(unsigned count) { threads = count ? count : 1; }
    unsigned GetThreads() const { return threads; }

    // Channel i's detector (null when the method is unknown), and the smoothing low-pass.
    const EnvelopeDetector* GetDetector(uint32_t i) const { return detectors[i].get(); }
    const LP_FilterIIR& GetSmoothingFilter() const { return *smoothingFilter; }

    const double* GetLowFreq() const { return lowFreq.get(); }
    const double* GetHighFreq() const { return highFreq.get(); }
    const double* GetCenterFreq() const { return centerFreq.get(); }
    const double* GetBandwidth() const { return bandwidth.get(); }

private:
    uint32_t ChannelCount() const { return static_cast<uint32_t>(detectors.size()); }
    // body(i) for i in [0, count) on the team of the current Run, or on one made for the loop.
    template <typename F>
    void Loop(uint32_t count, F&& body) {
        if (team) {
            team->For(count, body);
        } else {
            parallel::Team own(threads < count ? threads : count);
            own.For(count, body);
        }
    }
    // Runs every envelope through smoothingFilter, in place.
    void SmoothEnvelopes();
    // What the stages run over whole envelopes read of a plan, from the analyzer's own designs:
    // its channel count, its smoothing filter (built with it) and the current spread's weights
    // (as the parameters are now). Nothing else of it is filled in.
    stages::Plan StagePlan();

    Parameters* parameters;
    std::vector<std::unique_ptr<EnvelopeDetector>> detectors;
    std::unique_ptr<SignalVector> envelopes;
    std::unique_ptr<LP_FilterIIR> smoothingFilter;
    std::unique_ptr<double[]> lowFreq;
    std::unique_ptr<double[]> highFreq;
    std::unique_ptr<double[]> centerFreq;
    std::unique_ptr<double[]> bandwidth;
    uint32_t sampleRate;
    SelectionRecord* selectionRecord = nullptr;
    unsigned threads;
    parallel::Team* team = nullptr;  // during Run: its threads, for every loop of the run
};
