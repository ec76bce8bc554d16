// The processing blocks through their public interfaces, as the simulation uses them, and the
// whole simulation. Throughput is in samples per second (of every channel, where a block works
// on several); for the Simulator, items per second / 20000 is the real-time factor.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "BenchData.h"
#include "dsp/FilterFIR.h"
#include "dsp/FilterIIR.h"
#include "dsp/HilbertFIR_Detector.h"
#include "dsp/Kernels.h"
#include "dsp/RectLP_IIR_Detector.h"
#include "dsp/Resampler.h"
#include "dsp/TrainPulseGenerator.h"
#include "dsp/gasdev.h"
#include "params/Parameters.h"
#include "sim/Analyzer.h"
#include "sim/Simulator.h"
#include "stages/Tone.h"

namespace {

using bench::kRate;
using bench::kTenSeconds;

// Band 0 of the default layout (a full 100-tap window).
const double bandLow = 300.0;
const double bandHigh = 396.411;

void Output(Signal* s) {
    std::unique_ptr<Signal> owned(s);
    benchmark::DoNotOptimize(owned->GetSamples());
}

void FilterFIR_Run(benchmark::State& state) {
    const std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    FilterHilbertSin f(bandHigh - bandLow, 0.5 * (bandLow + bandHigh), kRate);
    for (auto _ : state) {
        Output(f.Run(x.get()));
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds);
}

void FilterIIR_Run(benchmark::State& state) {
    const std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    LP_FilterIIR f(2, kRate, 750.0);
    for (auto _ : state) {
        Output(f.Run(x.get()));
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds);
}

void HilbertFIR_Detector_Run(benchmark::State& state) {
    const std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    HilbertFIR_Detector d(bandHigh - bandLow, 0.5 * (bandLow + bandHigh), kRate);
    for (auto _ : state) {
        Output(d.Run(x.get()));
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds);
}

void RectLP_IIR_Detector_Run(benchmark::State& state) {
    const std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    RectLP_IIR_Detector d(bandLow, bandHigh, kRate);
    for (auto _ : state) {
        Output(d.Run(x.get()));
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds);
}

// The default analyzer's smoothed envelopes, ready for selection and mixing.
SignalVector* Envelopes(Parameters* p, Signal* x) {
    Analyzer a(p, kRate);
    return a.Run(x);
}

SignalVector* Copy(const SignalVector& v) {
    SignalVector* copy = new SignalVector(v.GetLength());
    for (uint32_t i = 0; i < v.GetLength(); i++) {
        copy->SetSignal(i, new Signal(*v.GetSignal(i)));
    }
    return copy;
}

// An analyzer step that works in place gets a fresh copy of the envelopes before every
// iteration, outside the timing.
template <typename Step>
void AnalyzerStep(benchmark::State& state, Step step) {
    Parameters p;
    const std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    const std::unique_ptr<SignalVector> envelopes(Envelopes(&p, x.get()));
    Analyzer a(&p, kRate);
    for (auto _ : state) {
        state.PauseTiming();
        a.SetEnvelopes(Copy(*envelopes));
        state.ResumeTiming();
        step(a);
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds * envelopes->GetLength());
}

void Analyzer_N_of_M(benchmark::State& state) {
    AnalyzerStep(state, [](Analyzer& a) { a.N_of_M(); });
}

void Analyzer_InteractionChannels(benchmark::State& state) {
    AnalyzerStep(state, [](Analyzer& a) { a.InteractionChannels(); });
}

// The Gaussian draw one deviate at a time, and the block fill of the noise generator: the same
// values.
void Randn(benchmark::State& state, void (*draw)(RandomState&, double*, uint32_t)) {
    const uint32_t draws = 1 << 20;
    std::vector<double> out(draws);
    RandomState random;
    for (auto _ : state) {
        draw(random, out.data(), draws);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * draws);
}

void TrainPulseGenerator_Generate(benchmark::State& state) {
    Parameters p;
    const std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    const std::unique_ptr<SignalVector> envelopes(Envelopes(&p, x.get()));
    TrainPulseGenerator g(envelopes->GetSignal(0));
    for (auto _ : state) {
        Output(g.Generate());
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds);
}

// Items are input samples at 44100 Hz.
void Resampler_44100_to_20000(benchmark::State& state) {
    const uint32_t length = 10 * 44100;
    const std::unique_ptr<Signal> x = bench::SpeechLike(length, 44100);
    Resampler r;
    for (auto _ : state) {
        Output(r.Run(x.get(), kRate));
    }
    state.SetItemsProcessed(state.iterations() * length);
}

// Ten seconds of sound at the default parameters; items are output samples at 20000 Hz.
void Simulator_Run(benchmark::State& state) {
    Parameters p;
    const std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    for (auto _ : state) {
        Simulator sim(&p, kRate);
        Output(sim.Run(x.get()));
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds);
    state.counters["realtime_factor"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kTenSeconds / kRate, benchmark::Counter::kIsRate);
}

// The tone carrier of one channel (carrier sine): ten seconds of one channel's envelope times
// its tone, so the throughput is samples per second per channel.
void Tone_Modulate(benchmark::State& state) {
    const std::vector<double> envelope(kTenSeconds, 0.5);
    std::vector<double> out(kTenSeconds);
    stages::Tone tone(1234.5, kRate, 0.3);
    for (auto _ : state) {
        tone.Modulate(envelope.data(), kTenSeconds, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds);
}

BENCHMARK(FilterFIR_Run)->Unit(benchmark::kMillisecond);
BENCHMARK(Tone_Modulate)->Unit(benchmark::kMillisecond);
BENCHMARK(FilterIIR_Run)->Unit(benchmark::kMillisecond);
BENCHMARK(HilbertFIR_Detector_Run)->Unit(benchmark::kMillisecond);
BENCHMARK(RectLP_IIR_Detector_Run)->Unit(benchmark::kMillisecond);
BENCHMARK(Analyzer_N_of_M)->Unit(benchmark::kMillisecond);
BENCHMARK(Analyzer_InteractionChannels)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Randn, fast, &fast_kernels::Randn)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Randn, textbook, &reference_kernels::Randn)->Unit(benchmark::kMillisecond);
BENCHMARK(TrainPulseGenerator_Generate)->Unit(benchmark::kMillisecond);
BENCHMARK(Resampler_44100_to_20000)->Unit(benchmark::kMillisecond);
BENCHMARK(Simulator_Run)->Unit(benchmark::kMillisecond);

}  // namespace
