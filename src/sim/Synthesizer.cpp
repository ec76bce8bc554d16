#include "sim/Synthesizer.h"

#include <algorithm>

#include "dsp/Parallel.h"
#include "dsp/gasdev.h"
#include "params/Parameters.h"
#include "sim/BandLayout.h"
#include "sim/BlockStreams.h"
#include "stages/Acoustic.h"
#include "stages/Modulation.h"
#include "stages/Normalization.h"
#include "stages/Plan.h"
#include "stages/Synthesis.h"

Synthesizer::Synthesizer(Parameters* parameters, unsigned long sampleRate)
    : Synthesizer(parameters, sampleRate, nullptr) {}

Synthesizer::Synthesizer(Parameters* parameters, unsigned long sampleRate, RandomState* random)
    : parameters(parameters),
      sampleRate(static_cast<uint32_t>(sampleRate)),
      own(random ? nullptr : std::make_unique<RandomState>()),
      random(random ? random : own.get()),
      threads(parallel::DefaultThreadCount()) {
    const uint32_t n = parameters->n_inserted_ch->GetValue();
    lowFreq.reset(new double[n]);
    highFreq.reset(new double[n]);
    centerFreq.reset(new double[n]);
    bandwidth.reset(new double[n]);

    double fLow;
    double fHigh;
    SynthesisRange(parameters, &fLow, &fHigh);
    CalculateFiltersFreq(fLow, fHigh, static_cast<int>(n), lowFreq.get(), highFreq.get(),
                         centerFreq.get(), bandwidth.get());

    filters.resize(n);
    for (uint32_t i = 0; i < n; i++) {
        filters[i].reset(new FilterHilbertSin(bandwidth[i], centerFreq[i], this->sampleRate));
    }
}

Synthesizer::~Synthesizer() = default;

void Synthesizer::CalculateFiltersFreq(double fLow, double fHigh, int n, double* lowFreq,
                                       double* highFreq, double* centerFreq, double* bandwidth) {
    CalculateBandLayout(fLow, fHigh, n, lowFreq, highFreq, centerFreq, bandwidth);
}

void Synthesizer::Modulate(const double* env, const double* nz, const double* p, double g, double s,
                           double* modulated, uint32_t count) {
    stages::Modulate(env, nz, p, g, s, modulated, count);
}

void Synthesizer::AddAcoustic(double* r, const double* a, uint32_t count) {
    stages::AddAcoustic(r, a, count);
}

namespace {

const uint32_t kBlock = 1 << 14;  // envelope samples per block

// body(b0, m) for the blocks [b0, b0 + m) of `length` samples, in order.
template <typename F>
void ForBlocks(uint32_t length, F&& body) {
    for (uint32_t b0 = 0; b0 < length; b0 += std::min(kBlock, length - b0)) {
        body(b0, std::min(kBlock, length - b0));
    }
}

// The rows of a block: each channel's samples from b0 on.
const double* const* From(std::vector<const double*>& rows, const SignalVector& v, uint32_t b0) {
    for (uint32_t i = 0; i < rows.size(); i++) {
        rows[i] = v.GetSignal(i)->GetSamples() + b0;
    }
    return rows.data();
}

// Every channel's pulse gain from the whole signal's energies: the pulse trains of its
// envelopes, the noise drawn (the pulse streams are let go once the energies are found).
std::vector<double> PulseGains(const stages::Plan& plan, const block::NoiseChain& noise,
                               const SignalVector& envelopes, uint32_t length,
                               parallel::Team& team) {
    std::vector<const double*> rows(plan.channels);
    stages::PulseEnergies energies(plan, length, kBlock);
    ForBlocks(length, [&](uint32_t b0, uint32_t m) {
        energies.Process(From(rows, envelopes, b0), m, team);
    });
    return stages::PulseGains(noise, energies, plan.channels);
}

}  // namespace

Signal* Synthesizer::Run(SignalVector* envelopes, Signal* input) {
    // The bands are the synthesizer's own, as built; the rest as the parameters are now.
    stages::Plan plan = stages::MakePlan(*parameters, sampleRate);
    const uint32_t n = ChannelCount();
    plan.channels = n;
    plan.synthesisTaps.resize(n);
    for (uint32_t i = 0; i < n; i++) {
        std::copy(filters[i]->GetCoeffs(), filters[i]->GetCoeffs() + stages::kTaps,
                  plan.synthesisTaps[i].begin());
    }
    const Signal* e0 = envelopes->GetSignal(0);
    const uint32_t length = e0->GetLength();
    parallel::Team team(threads);
    std::vector<const double*> rows(n);

    // The whole signal's energies: channel i's noise is the i-th stretch of `length` draws of
    // the one sequence, its pulse train that of its envelope.
    block::NoiseChain noise(*random, n, length);
    noise.Draw(uint64_t{n} * length);
    *random = noise.Start(n);
    const std::vector<double> gains = PulseGains(plan, noise, *envelopes, length, team);

    // The synthesis stages in blocks into the sum, then the whole-signal normalisation.
    std::unique_ptr<Signal> result(new Signal(length, e0->GetSampleRate()));  // starts all 0.0
    double* y = result->GetSamples();
    stages::Synthesis synthesis(plan, stages::NoiseStarts(noise, n), gains, length, kBlock);
    ForBlocks(length, [&](uint32_t b0, uint32_t m) {
        synthesis.Process(From(rows, *envelopes, b0), m, y, team);
    });
    stages::Normalize(y, y, length);

    if (plan.eas) {
        // The hearing aid's part, at the level it has in the input, added to the normalised
        // implant part; the sum is normalised once more.
        const uint32_t common = std::min(length, input->GetLength());
        stages::Acoustic acoustic(plan, 0, kBlock);
        std::vector<double> heard(std::min(kBlock, common));
        ForBlocks(common, [&](uint32_t b0, uint32_t m) {
            acoustic.Process(input->GetSamples() + b0, m, heard.data());
            stages::AddAcoustic(y + b0, heard.data(), m);
        });
        stages::Normalize(y, y, length);
    }
    return result.release();
}
