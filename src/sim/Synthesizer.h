#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/FilterFIR.h"
#include "dsp/NoiseGenerator.h"
#include "dsp/TrainPulseGenerator.h"
#include "signal/SignalVector.h"

class Parameters;
struct RandomState;

// Turns the channel envelopes back into sound, as a vocoder: each envelope modulates a blend
// of Gaussian noise and a pulse train on the envelope's peaks (set by synchronization), is
// band-limited to its channel's band, and the channels are summed and peak-normalised. Under
// eas the input low-passed at cutoff_freq is added and the sum normalised again. It runs the
// stages of the offline simulation (stages::Synthesis, stages::Acoustic) over whole signals.
//
// The channel count is n_inserted_ch, fixed when the synthesizer is built. The parameters are
// borrowed and must outlive the synthesizer.
class Synthesizer {
public:
    // The noise continues a sequence of the synthesizer's own (from a fresh state), or the
    // state given (borrowed).
    Synthesizer(Parameters* parameters, unsigned long sampleRate);
    Synthesizer(Parameters* parameters, unsigned long sampleRate, RandomState* random);
    Synthesizer(const Synthesizer&) = delete;
    Synthesizer& operator=(const Synthesizer&) = delete;
    virtual ~Synthesizer();

    // Synthesises from envelopes (one per channel, equal lengths); input is read only under
    // eas. Returns a new signal of the envelopes' length, owned by the caller.
    virtual Signal* Run(SignalVector* envelopes, Signal* input);

    // n log-spaced bands from fLow to fHigh, the same rule as the analysis bands.
    void CalculateFiltersFreq(double fLow, double fHigh, int n, double* lowFreq, double* highFreq,
                              double* centerFreq, double* bandwidth);

    // modulated[j] = env[j] * (nz[j] * (1 - s) + (p[j] * g) * s) for j < count: the blend of
    // the carriers modulated by the envelope (stages::Modulate).
    static void Modulate(const double* env, const double* nz, const double* p, double g, double s,
                         double* modulated, uint32_t count);
    // r[j] = r[j] + a[j] for j < count: the hearing aid's part added to the implant's
    // (stages::AddAcoustic).
    static void AddAcoustic(double* r, const double* a, uint32_t count);

    // The threads the channels are worked on by (at least 1; by default
    // parallel::DefaultThreadCount() when the synthesizer is built). The results do not depend
    // on it: each channel's noise is found at its place in the one random sequence.
    void SetThreads(unsigned count) { threads = count ? count : 1; }
    unsigned GetThreads() const { return threads; }

    const FilterHilbertSin& GetFilter(uint32_t i) const { return *filters[i]; }

    const double* GetLowFreq() const { return lowFreq.get(); }
    const double* GetHighFreq() const { return highFreq.get(); }
    const double* GetCenterFreq() const { return centerFreq.get(); }
    const double* GetBandwidth() const { return bandwidth.get(); }

private:
    uint32_t ChannelCount() const { return static_cast<uint32_t>(filters.size()); }

    Parameters* parameters;
    std::vector<std::unique_ptr<FilterHilbertSin>> filters;
    std::unique_ptr<double[]> lowFreq;
    std::unique_ptr<double[]> highFreq;
    std::unique_ptr<double[]> centerFreq;
    std::unique_ptr<double[]> bandwidth;
    uint32_t sampleRate;
    std::unique_ptr<RandomState> own;  // without a state given
    RandomState* random;
    unsigned threads;
};
