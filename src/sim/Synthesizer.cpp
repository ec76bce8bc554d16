#include "sim/Synthesizer.h"

#include <algorithm>
#include <cmath>

#include "dsp/FilterIIR.h"
#include "dsp/Kernels.h"
#include "dsp/Normalizer.h"
#include "dsp/Parallel.h"
#include "dsp/Subnormals.h"
#include "dsp/gasdev.h"
#include "params/Parameters.h"
#include "sim/BandLayout.h"
#include "sim/BlockStreams.h"
#include "stages/Carriers.h"
#include "stages/Plan.h"

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

void Synthesizer::ModulateChannel(Signal* e, RandomState& state, double* modulated,
                                  uint32_t length) {
    const double s = parameters->synchronization->GetValue();

    // The noise continues the sequence of `state`: channel i gets its i-th run of draws.
    std::unique_ptr<Signal> noise(NoiseGenerator(length, sampleRate, &state).Generate());
    std::unique_ptr<Signal> pulses(TrainPulseGenerator(e).Generate());
    const double* nz = noise->GetSamples();
    const double* p = pulses->GetSamples();

    // The pulse train gets the energy of the noise, so that the blend keeps the level.
    const double g = stages::Carriers::PulseGain(stages::AddSquares(0.0, nz, length),
                                                 stages::AddSquares(0.0, p, length));

    Modulate(e->GetSamples(), nz, p, g, s, modulated, length);
}

void Synthesizer::Modulate(const double* env, const double* nz, const double* p, double g, double s,
                           double* modulated, uint32_t count) {
    for (uint32_t j = 0; j < count; j++) {
        const double pulse = p[j] * g;
        const double carrier = nz[j] * (1.0 - s) + pulse * s;
        // Shortcut: a finite envelope times a zero carrier is a zero whose sign is the product
        // of the signs; in silence (no pulses, synchronization 1) the envelope rests on a
        // subnormal value, which the product would otherwise read.
        if (carrier == 0.0 && std::isfinite(env[j]) && subnormals::ShortcutsEnabled()) {
            modulated[j] = std::signbit(env[j]) != std::signbit(carrier) ? -0.0 : 0.0;
            continue;
        }
        CIHEAR_TALLY(subnormals::Is(env[j]) + subnormals::Is(carrier));
        modulated[j] = env[j] * carrier;
    }
}

void Synthesizer::AddAcoustic(double* r, const double* a, uint32_t count) {
    // Shortcut: the same two operands as the sample before give its sum.
    double lastR = 0.0;
    double lastSum = 0.0;
    for (uint32_t j = 0; j < count; j++) {
        if (j > 0 && subnormals::ShortcutsEnabled() && subnormals::Same(r[j], lastR) &&
            subnormals::Same(a[j], a[j - 1])) {
            r[j] = lastSum;
            continue;
        }
        CIHEAR_TALLY(subnormals::Is(r[j]) + subnormals::Is(a[j]));
        lastR = r[j];
        lastSum = r[j] + a[j];
        r[j] = lastSum;
    }
}

void Synthesizer::SynthesizeChannel(uint32_t i, Signal* e, double* sum, uint32_t length) {
    std::unique_ptr<double[]> modulated(new double[length]);
    ModulateChannel(e, *random, modulated.get(), length);
    // Band-limit and add to the sum in one pass: the band signal is never stored.
    kernels::ConvolveAdd(filters[i]->GetCoeffs(), modulated.get(), sum, length);
}

Signal* Synthesizer::Run(SignalVector* envelopes, Signal* input) {
    const uint32_t n = ChannelCount();
    const Signal* e0 = envelopes->GetSignal(0);
    const uint32_t length = e0->GetLength();

    std::unique_ptr<Signal> sum(new Signal(length, e0->GetSampleRate()));  // starts all 0.0
    if (threads <= 1 || n <= 1) {
        for (uint32_t i = 0; i < n; i++) {
            SynthesizeChannel(i, envelopes->GetSignal(i), sum->GetSamples(), length);
        }
    } else {
        // Channel i's noise is the i-th stretch of `length` draws of the one sequence: where
        // each starts is found as the block simulation finds it (block::NoiseChain). The
        // channels are then synthesised in parallel, each into a band signal of its own, and
        // the band signals are added to the sum in channel order, as the one-thread loop adds
        // them.
        block::NoiseChain chain(*random, n, length);
        chain.Draw(uint64_t{n} * length);
        std::vector<RandomState> states(n + 1);
        for (uint32_t i = 0; i <= n; i++) {
            states[i] = chain.Start(i);
        }
        std::vector<std::unique_ptr<double[]>> bands(n);
        double* total = sum->GetSamples();
        parallel::ForOrdered(
            threads, n,
            [&](uint32_t i) {
                std::unique_ptr<double[]> modulated(new double[length]);
                ModulateChannel(envelopes->GetSignal(i), states[i], modulated.get(), length);
                bands[i].reset(new double[length]);
                kernels::Convolve(filters[i]->GetCoeffs(), modulated.get(), bands[i].get(), length);
            },
            [&](uint32_t i) {
                // The band's first samples are 0, which ConvolveAdd adds too.
                const double* y = bands[i].get();
                for (uint32_t j = 0; j < length; j++) {
                    total[j] = total[j] + y[j];
                }
                bands[i].reset();
            });
        *random = states[n];
    }

    Normalizer normalizer;
    std::unique_ptr<Signal> result(normalizer.Run(sum.get()));
    sum.reset();

    if (parameters->eas->GetValue()) {
        // The hearing aid's part, at the level it has in the input, added to the normalised
        // implant part; the sum is normalised once more.
        std::unique_ptr<Signal> acoustic;
        {
            acoustic.reset(stages::AcousticLowPass(sampleRate, parameters->cutoff_freq->GetValue())
                               ->Run(input));
        }
        double* r = result->GetSamples();
        const double* a = acoustic->GetSamples();
        const uint32_t common = std::min(length, acoustic->GetLength());
        AddAcoustic(r, a, common);
        acoustic.reset();
        result.reset(normalizer.Run(result.get()));
    }
    return result.release();
}
