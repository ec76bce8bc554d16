// Each fast kernel beside the plain loop it replaces, on the same data, so that the speed-up
// is a ratio measured in one run (BenchMain prints it). Throughput is in output samples per
// second, counting every channel's samples.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "BenchData.h"
#include "dsp/FilterFIR.h"
#include "dsp/FilterIIR.h"
#include "dsp/Kernels.h"

namespace {

using bench::Channels;
using bench::kRate;
using bench::kTenSeconds;

// Band 0 of the default layout, 300 to 396.4 Hz: its window fills all 100 taps, so the ratio
// shows the vector arithmetic alone, without the zero taps that wider bands let the fast
// kernels skip.
const double bandWidth = 96.411;
const double bandCentre = 348.206;
// The envelope smoothing at the default rate, and the default interaction factor.
const double smoothingCutoff = 750.0;
const double interaction = 0.25573;

// The kernels' types; the fast and the plain version of each share one.
using ConvolveKernel = void (*)(const double*, const double*, double*, uint32_t);
using QuadratureKernel = void (*)(const double*, const double*, const double*, double*, uint32_t);
using FilterKernel = void (*)(const double*, const double*, uint32_t, double* const*, uint32_t,
                              uint32_t);
using MixKernel = void (*)(const double*, double* const*, uint32_t, uint32_t, const uint32_t*);
using PulseKernel = void (*)(const double*, double*, uint32_t);

void Convolve(benchmark::State& state, ConvolveKernel kernel) {
    const std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    const FilterHilbertSin f(bandWidth, bandCentre, kRate);
    std::vector<double> y(kTenSeconds);
    for (auto _ : state) {
        kernel(f.GetCoeffs(), x->GetSamples(), y.data(), kTenSeconds);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds);
}

void Quadrature(benchmark::State& state, QuadratureKernel kernel) {
    const std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    const FilterHilbertSin s(bandWidth, bandCentre, kRate);
    const FilterHilbertCos c(bandWidth, bandCentre, kRate);
    std::vector<double> env(kTenSeconds);
    for (auto _ : state) {
        kernel(s.GetCoeffs(), c.GetCoeffs(), x->GetSamples(), env.data(), kTenSeconds);
        benchmark::DoNotOptimize(env.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds);
}

// In-place kernels get fresh channels before every iteration, outside the timing.
template <typename Run>
void InPlace(benchmark::State& state, Run run) {
    const uint32_t n = static_cast<uint32_t>(state.range(0));
    const std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    const Channels original(n, *x);
    Channels work(n, *x);
    for (auto _ : state) {
        state.PauseTiming();
        work.CopyFrom(original);
        state.ResumeTiming();
        run(work.pointers.data(), n);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds * n);
}

void Smoothing(benchmark::State& state, FilterKernel kernel) {
    LP_FilterIIR lp(2, kRate, smoothingCutoff);
    InPlace(state, [&](double* const* ch, uint32_t n) {
        kernel(lp.GetA(), lp.GetB(), lp.GetNumCoeffs(), ch, n, kTenSeconds);
    });
}

void Mixing(benchmark::State& state, MixKernel kernel) {
    std::vector<double> w(static_cast<size_t>(state.range(0)), 1.0);
    for (size_t d = 1; d < w.size(); d++) {
        w[d] = w[d - 1] * interaction;
    }
    InPlace(state,
            [&](double* const* ch, uint32_t n) { kernel(w.data(), ch, n, kTenSeconds, nullptr); });
}

void Pulses(benchmark::State& state, PulseKernel kernel) {
    // A smoothed rectified sound: its maxima are what the pulse train marks.
    std::unique_ptr<Signal> x = bench::SpeechLike(kTenSeconds);
    for (double* v = x->GetSamples(); v != x->GetSamples() + kTenSeconds; v++) {
        *v = std::fabs(*v);
    }
    LP_FilterIIR lp(2, kRate, smoothingCutoff);
    const std::unique_ptr<Signal> envelope(lp.Run(x.get()));
    std::vector<double> p(kTenSeconds);
    for (auto _ : state) {
        kernel(envelope->GetSamples(), p.data(), kTenSeconds);
        benchmark::DoNotOptimize(p.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kTenSeconds);
}

// Each pair is named <kernel>/fast and <kernel>/textbook; BenchMain pairs them up.
BENCHMARK_CAPTURE(Convolve, fast, &fast_kernels::Convolve)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convolve, textbook, &reference_kernels::Convolve)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quadrature, fast, &fast_kernels::QuadratureMagnitude)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quadrature, textbook, &reference_kernels::QuadratureMagnitude)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Smoothing, fast, &fast_kernels::FilterChannels)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Smoothing, textbook, &reference_kernels::FilterChannels)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Mixing, fast, &fast_kernels::MixChannels)
    ->Arg(12)
    ->Arg(22)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Mixing, textbook, &reference_kernels::MixChannels)
    ->Arg(12)
    ->Arg(22)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Pulses, fast, &fast_kernels::PulseTrain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Pulses, textbook, &reference_kernels::PulseTrain)->Unit(benchmark::kMillisecond);

}  // namespace
