#include "sim/BlockSimulation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>

#include "dsp/FilterFIR.h"
#include "dsp/FilterIIR.h"
#include "dsp/HilbertFIR_Detector.h"
#include "dsp/Kernels.h"
#include "dsp/Normalizer.h"
#include "dsp/Parallel.h"
#include "dsp/RectLP_IIR_Detector.h"
#include "dsp/gasdev.h"
#include "params/Parameters.h"
#include "signal/SampleMemory.h"
#include "signal/Signal.h"
#include "sim/Analyzer.h"
#include "sim/BlockStreams.h"
#include "sim/Selection.h"
#include "sim/Synthesizer.h"

namespace {

const uint32_t numTaps = FilterFIR::num_taps;
const uint32_t vectorWidth = 8;  // channels per vector of the IIR kernel

// Every channel's working rows for one block, in one allocation: its envelope (with numTaps
// samples of room before it), its pulses, envelope and noise as the pulse stream hands them out,
// and its modulated carrier and band (each with the numTaps samples before the block).
struct Rows {
    Rows(uint32_t n, uint32_t block)
        : block(block),
          room(block + 512),
          stride(numTaps + block + 3 * room + 2 * (numTaps + room)),
          memory(sample_memory::MakeBuffer(size_t{n} * stride)) {
        // Not initialised: every row is written before it is read (pass 2 clears the samples
        // before each modulated carrier itself), and its pages are first touched by the
        // parallel loops rather than all here by one thread.
        for (uint32_t i = 0; i < n; i++) {
            envelope.push_back(memory.get() + size_t{i} * stride + numTaps);
        }
    }
    double* Pulses(uint32_t i) const { return envelope[i] + block; }
    double* Held(uint32_t i) const { return Pulses(i) + room; }
    double* Noise(uint32_t i) const { return Held(i) + room; }
    double* Modulated(uint32_t i) const { return Noise(i) + room; }
    double* Band(uint32_t i) const { return Modulated(i) + numTaps + room; }

    uint32_t block;
    uint32_t room;  // the most positions a pulse stream hands out at once: a block and 251
    size_t stride;
    sample_memory::Buffer memory;
    std::vector<double*> envelope;
};

}  // namespace

std::vector<double> BlockSimulation::Run(std::unique_ptr<Signal>& input) {
    const uint64_t length = input->GetLength();
    return Run(length, [&input] { return std::move(input); });
}

void BlockSimulation::StopIfCancelled() const {
    if (cancelled && cancelled()) {
        throw Cancelled();
    }
}

std::vector<double> BlockSimulation::Run(uint64_t expected, const Loader& load) {
    const uint32_t n = parameters->n_inserted_ch->GetValue();
    parallel::Team team(threads);

    // The noise is one sequential draw. With one thread it is drawn a block's share at a time;
    // with more, every loop of pass 1 (and the loading before it) gets one more task, which
    // draws the noise while any other task of the loop is unfinished: the draw fills the
    // threads' idle time instead of holding up a loop of its own.
    block::NoiseChain noise(*random, n, expected);
    auto Loop = [&](uint32_t count, auto&& body) {
        if (team.Size() == 1 || noise.Done()) {
            team.For(count, body);
            return;
        }
        std::atomic<uint32_t> pending(count);
        team.For(count + 1, [&](uint32_t task) {
            if (task == 0) {
                while (pending.load(std::memory_order_acquire) > 0 && !noise.Done()) {
                    noise.Draw(512);
                }
                return;
            }
            struct Finished {  // also when the body throws
                std::atomic<uint32_t>& pending;
                ~Finished() { pending.fetch_sub(1, std::memory_order_release); }
            } finished{pending};
            body(task - 1);
        });
    };

    std::unique_ptr<Signal> input;
    Loop(1, [&](uint32_t) { input = load(); });
    if (!input) {
        throw LoadFailed();
    }
    const uint64_t L = input->GetLength();
    if (L == 0) {
        return {};
    }
    if (L != expected) {
        noise = block::NoiseChain(*random, n, L);  // drawn again for the length there is
    }
    const uint32_t B =
        static_cast<uint32_t>(std::max<uint64_t>(1, std::min<uint64_t>(blockSize, L)));
    const double fs = static_cast<double>(sampleRate);
    const bool eas = parameters->eas->GetValue();
    const double sync = parameters->synchronization->GetValue();

    // The designs of the stages, as the analyzer and the synthesizer build them.
    Analyzer analyzer(parameters, sampleRate);
    Synthesizer synthesizer(parameters, sampleRate, random);
    const uint32_t method = parameters->envelope_detection->GetValue();
    // The detectors' own filters and the synthesizer's band filters, borrowed from the stages.
    std::vector<const FilterFIR*> detectSin(n);
    std::vector<const FilterFIR*> detectCos(n);
    std::vector<const FilterIIR*> bandPass(n);
    const FilterIIR* rectLowPass = nullptr;
    std::vector<const FilterFIR*> bands(n);
    for (uint32_t i = 0; i < n; i++) {
        if (method == 0) {
            const auto* d = static_cast<const HilbertFIR_Detector*>(analyzer.GetDetector(i));
            detectSin[i] = &d->GetSineFilter();
            detectCos[i] = &d->GetCosineFilter();
        } else if (method == 1) {
            const auto* d = static_cast<const RectLP_IIR_Detector*>(analyzer.GetDetector(i));
            bandPass[i] = d->GetBandPass();
            rectLowPass = d->GetLowPass();
        }
        bands[i] = &synthesizer.GetFilter(i);
    }
    const LP_FilterIIR smoothing(2, fs, parameters->rate->GetValue() / 2.4);
    const std::vector<double> weights = analyzer.InteractionWeights();

    // The N-of-M cycles: the values of every frame are kept, and from the start of the last
    // frame on, the envelopes before the selection (the samples after the last frame keep them).
    const double rate = parameters->rate->GetValue();
    const uint32_t nOn = parameters->n_on->GetValue();
    const double cycleCount =
        std::floor(static_cast<double>(static_cast<uint32_t>(L)) * (rate / fs) - 1.0);
    const int64_t cycles = cycleCount > 0.0 ? static_cast<int64_t>(cycleCount) : 0;
    const uint64_t tailStart = cycles > 0 ? block::FrameClock(cycles, fs, rate).End(cycles - 1) : 0;
    sample_memory::Buffer frameValues = sample_memory::MakeBuffer(static_cast<size_t>(cycles) * n);
    sample_memory::Buffer tail = sample_memory::MakeBuffer(static_cast<size_t>(L - tailStart) * n);

    Rows rows(n, B);
    std::vector<int64_t> holding(B);  // the cycle holding each sample of the block, or -1
    // The channels in groups of at most a vector's width, as many groups as keep every thread
    // busy (12 channels on 2 threads: two groups of 6, not 8 and 4).
    const uint32_t vectors = (n + vectorWidth - 1) / vectorWidth;
    const uint32_t wanted = std::min(n, (vectors + team.Size() - 1) / team.Size() * team.Size());
    const uint32_t group = (n + wanted - 1) / wanted;
    const uint32_t groups = (n + group - 1) / group;
    auto Smooth = [&](std::vector<double>& state, uint32_t gi, uint64_t b0, uint32_t m) {
        const uint32_t first = gi * group;
        kernels::FilterChannelsFrom(smoothing.GetA(), smoothing.GetB(), smoothing.GetNumCoeffs(),
                                    rows.envelope.data() + first, std::min(group, n - first), m, b0,
                                    state.data() + 16 * first);
    };
    // The current spread mixes every channel's sample with the other channels' same sample: a
    // slice of the block per task.
    auto MixParts = [&](uint32_t m) {
        return std::max<uint32_t>(1, std::min<uint32_t>(team.Size(), (m + 1023) / 1024));
    };
    auto Mix = [&](uint32_t m, uint32_t parts, uint32_t k) {
        const auto first = static_cast<uint32_t>(parallel::SliceStart(m, k, parts));
        const auto end = static_cast<uint32_t>(parallel::SliceStart(m, k + 1, parts));
        std::vector<double*> r(n);
        for (uint32_t i = 0; i < n; i++) {
            r[i] = rows.envelope[i] + first;
        }
        kernels::MixChannels(weights.data(), r.data(), n, end - first);
    };

    // ---- Pass 1: the analysis, the frames, the energies ------------------------------------
    std::vector<double> pulseEnergy(n, 0.0);
    {
        const double* x = input->GetSamples();
        std::vector<double> smoothState1(16 * n, 0.0), smoothState2(16 * n, 0.0);
        std::vector<double> bpState(16 * n, 0.0), lpState(16 * n, 0.0);
        std::vector<block::PulseStream> pulses;
        for (uint32_t i = 0; i < n; i++) {
            pulses.emplace_back(L, B);
        }
        block::FrameClock clock(cycles, fs, rate);
        int32_t selected = 0;
        std::vector<double> values(n);
        std::vector<uint32_t> marks(n);

        for (uint64_t b0 = 0; b0 < L; b0 += B) {
            StopIfCancelled();
            const uint32_t m = static_cast<uint32_t>(std::min<uint64_t>(B, L - b0));
            if (team.Size() == 1) {
                noise.Draw(uint64_t{n} * m);
            }
            // Detection, a channel per task, straight into its row (a Hilbert detector's first
            // numTaps outputs of a block only prime its filters and go to the room before it).
            Loop(n, [&](uint32_t i) {
                double* e = rows.envelope[i];
                if (method == 0) {
                    const uint64_t from = b0 >= numTaps ? b0 - numTaps : 0;
                    kernels::QuadratureMagnitude(
                        detectSin[i]->GetCoeffs(), detectCos[i]->GetCoeffs(), x + from,
                        e - (b0 - from), static_cast<uint32_t>(b0 + m - from));
                } else if (method == 1) {
                    std::copy(x + b0, x + b0 + m, e);
                    kernels::FilterChannelsFrom(bandPass[i]->GetA(), bandPass[i]->GetB(),
                                                bandPass[i]->GetNumCoeffs(), &e, 1, m, b0,
                                                bpState.data() + 16 * i);
                    for (uint32_t j = 0; j < m; j++) {
                        e[j] = std::fabs(e[j]);
                    }
                    kernels::FilterChannelsFrom(rectLowPass->GetA(), rectLowPass->GetB(),
                                                rectLowPass->GetNumCoeffs(), &e, 1, m, b0,
                                                lpState.data() + 16 * i);
                } else {
                    std::fill(e, e + m, 0.0);
                }
            });
            Loop(groups, [&](uint32_t gi) { Smooth(smoothState1, gi, b0, m); });

            // N-of-M, in order: the choices of the cycles that start in this block, from the
            // envelopes at their starts, and which cycle holds each sample.
            Loop(1, [&](uint32_t) {
                for (uint32_t t = 0; t < m; t++) {
                    const uint64_t j = b0 + t;
                    bool entered = false;
                    clock.Run(j, [&](int64_t c, uint64_t a, uint64_t b) {
                        if (!entered) {
                            for (uint32_t ch = 0; ch < n; ch++) {
                                values[ch] = rows.envelope[ch][t];
                            }
                            entered = true;
                        }
                        MarkStrongest(values.data(), n, nOn, selected, marks);
                        for (uint32_t ch = 0; ch < n; ch++) {
                            if (!marks[ch]) {
                                values[ch] = 0.0;
                            }
                            if (selection && c > 0) {
                                selection->levels.push_back(values[ch]);
                                selection->selected.push_back(static_cast<uint8_t>(marks[ch]));
                            }
                        }
                        if (selection && c > 0) {
                            selection->starts.push_back(static_cast<int64_t>(a));
                            selection->lengths.push_back(static_cast<int64_t>(b) -
                                                         static_cast<int64_t>(a));
                        }
                        std::copy(values.begin(), values.end(), frameValues.get() + c * n);
                    });
                    holding[t] = clock.Holding(j);
                }
            });
            // The held values (the envelopes from the last frame on kept first) and the second
            // smoothing, a group of channels per task.
            Loop(groups, [&](uint32_t gi) {
                for (uint32_t ch = gi * group; ch < std::min(n, (gi + 1) * group); ch++) {
                    double* e = rows.envelope[ch];
                    for (uint64_t j = std::max(b0, tailStart); j < b0 + m; j++) {
                        tail[(j - tailStart) * n + ch] = e[j - b0];
                    }
                    for (uint32_t t = 0; t < m; t++) {
                        if (holding[t] >= 0) {
                            e[t] = frameValues[holding[t] * n + ch];
                        }
                    }
                }
                Smooth(smoothState2, gi, b0, m);
            });
            const uint32_t parts = MixParts(m);
            Loop(parts, [&](uint32_t k) { Mix(m, parts, k); });
            Loop(n, [&](uint32_t i) {
                pulses[i].Push(rows.envelope[i], m);
                const uint64_t from = pulses[i].Next();
                const uint64_t upto = pulses[i].Ready();
                double* p = rows.Pulses(i);
                pulses[i].Pull(upto, p, rows.Held(i));
                double energy = pulseEnergy[i];
                for (uint64_t j = 0; j < upto - from; j++) {
                    energy = energy + p[j] * p[j];
                }
                pulseEnergy[i] = energy;
            });
        }
        noise.Draw(UINT64_MAX);    // what the loops left
        *random = noise.Start(n);  // after every channel's draws, as the synthesizer leaves it
    }
    if (!eas) {
        input.reset();  // the second pass needs the frames only
    }

    // ---- Pass 2: the envelopes again, the synthesis -------------------------------------------
    std::vector<double> gains(n);
    for (uint32_t i = 0; i < n; i++) {
        gains[i] = pulseEnergy[i] > 0.0 ? std::sqrt(noise.Energy(i) / pulseEnergy[i]) : 0.0;
    }
    // The output's pages are provided by every thread at once, before its zeros are written.
    std::vector<double> out;
    out.reserve(L);
    sample_memory::AdviseHugePages(out.data(), L * sizeof(double));
    const uint32_t slices = team.Size();
    team.For(slices, [&](uint32_t k) {
        const uint64_t page = 262144;  // samples in 2 MiB
        const uint64_t first = parallel::SliceStart(L, k, slices) / page * page;
        const uint64_t end =
            k + 1 == slices ? L : parallel::SliceStart(L, k + 1, slices) / page * page;
        sample_memory::Populate(out.data() + first, (end - first) * sizeof(double));
    });
    out.resize(L, 0.0);
    if (envelopes) {
        envelopes->assign(static_cast<size_t>(L) * n, 0.0);
    }
    {
        std::vector<double> smoothState2(16 * n, 0.0);
        std::vector<block::PulseStream> pulses;
        std::vector<RandomState> noiseStates;
        for (uint32_t i = 0; i < n; i++) {
            pulses.emplace_back(L, B);
            noiseStates.push_back(noise.Start(i));
            std::fill(rows.Modulated(i), rows.Modulated(i) + numTaps, 0.0);
        }
        // At synchronization 1 the carrier is the pulse train alone: noise * (1 - 1) is a zero,
        // and a zero plus the pulse (never negative) is the pulse, bit for bit, whatever the
        // noise. Its energy (pass 1) still sets the pulses' gain, but its values need not be
        // drawn again: any finite values give the same carrier.
        const bool noiseHeard = sync != 1.0;
        if (!noiseHeard) {
            for (uint32_t i = 0; i < n; i++) {
                std::fill(rows.Noise(i), rows.Noise(i) + rows.room, 0.0);
            }
        }
        block::FrameClock clock(cycles, fs, rate);
        for (uint64_t b0 = 0; b0 < L; b0 += B) {
            StopIfCancelled();
            const uint32_t m = static_cast<uint32_t>(std::min<uint64_t>(B, L - b0));
            // The selected envelopes, from the frames and the tail, a group of channels per task.
            for (uint32_t t = 0; t < m; t++) {
                clock.Run(b0 + t, [](int64_t, uint64_t, uint64_t) {});
                holding[t] = clock.Holding(b0 + t);
            }
            team.For(groups, [&](uint32_t gi) {
                for (uint32_t ch = gi * group; ch < std::min(n, (gi + 1) * group); ch++) {
                    double* e = rows.envelope[ch];
                    for (uint32_t t = 0; t < m; t++) {
                        e[t] = holding[t] >= 0 ? frameValues[holding[t] * n + ch]
                                               : tail[(b0 + t - tailStart) * n + ch];
                    }
                }
                Smooth(smoothState2, gi, b0, m);
            });
            const uint32_t parts = MixParts(m);
            team.For(parts, [&](uint32_t k) { Mix(m, parts, k); });

            // Every channel's stream is at the same place, so every band covers the same
            // positions [from, upto).
            const uint64_t from = pulses[0].Next();
            const uint64_t upto = pulses[0].ReadyAt(b0 + m);
            const uint32_t k = static_cast<uint32_t>(upto - from);  // at most m + 251 < room
            team.For(n, [&](uint32_t i) {
                if (envelopes) {
                    std::copy(rows.envelope[i], rows.envelope[i] + m,
                              envelopes->begin() + static_cast<ptrdiff_t>(i * L + b0));
                }
                pulses[i].Push(rows.envelope[i], m);
                if (k == 0) {
                    return;
                }
                pulses[i].Pull(upto, rows.Pulses(i), rows.Held(i));
                if (noiseHeard) {
                    kernels::Randn(noiseStates[i], rows.Noise(i), k);
                }
                double* mod = rows.Modulated(i);
                double* band = rows.Band(i);
                Synthesizer::Modulate(rows.Held(i), rows.Noise(i), rows.Pulses(i), gains[i], sync,
                                      mod + numTaps, k);
                kernels::Convolve(bands[i]->GetCoeffs(), mod, band, numTaps + k);
                // The band's first numTaps samples are 0.
                for (uint64_t q = from; q < upto && q < numTaps; q++) {
                    band[numTaps + (q - from)] = 0.0;
                }
                std::copy(mod + k, mod + k + numTaps, mod);
            });
            // The bands added in channel order, a slice of the positions per task.
            const uint32_t slices = MixParts(k);
            team.For(k == 0 ? 0 : slices, [&](uint32_t s) {
                const auto first = static_cast<uint32_t>(parallel::SliceStart(k, s, slices));
                const auto end = static_cast<uint32_t>(parallel::SliceStart(k, s + 1, slices));
                double* o = out.data() + from;
                for (uint32_t i = 0; i < n; i++) {
                    const double* y = rows.Band(i) + numTaps;
                    for (uint32_t j = first; j < end; j++) {
                        o[j] = o[j] + y[j];
                    }
                }
            });
        }
    }

    // ---- The whole output: peak normalisation, and under eas the hearing aid's part ----------
    // A slice of the output per thread: the largest magnitude of each (the peak is the largest
    // of those, whatever the order), then each scaled.
    auto Normalize = [&]() {
        const uint32_t parts = team.Size();
        auto First = [&](uint32_t k) { return parallel::SliceStart(L, k, parts); };
        std::vector<double> peaks(parts, 0.0);
        team.For(parts, [&](uint32_t k) {
            double peak = 0.0;
            for (uint64_t j = First(k); j < First(k + 1); j++) {
                if (std::fabs(out[j]) > peak) {
                    peak = std::fabs(out[j]);
                }
            }
            peaks[k] = peak;
        });
        const double peak = *std::max_element(peaks.begin(), peaks.end());
        team.For(parts, [&](uint32_t k) {
            double* y = out.data() + First(k);
            if (peak == 0.0) {
                std::fill(y, out.data() + First(k + 1), 0.0);
            } else {
                Normalizer::Scale(y, y, First(k + 1) - First(k), 0.9999 * (1.0 / peak));
            }
        });
    };
    Normalize();
    if (eas) {
        const LP_FilterIIR lp(2, fs, parameters->cutoff_freq->GetValue());
        std::vector<double> state(16, 0.0);
        std::vector<double> acoustic(B);
        const double* x = input->GetSamples();
        for (uint64_t b0 = 0; b0 < L; b0 += B) {
            const uint32_t m = static_cast<uint32_t>(std::min<uint64_t>(B, L - b0));
            std::copy(x + b0, x + b0 + m, acoustic.begin());
            double* pa = acoustic.data();
            kernels::FilterChannelsFrom(lp.GetA(), lp.GetB(), lp.GetNumCoeffs(), &pa, 1, m, b0,
                                        state.data());
            if (acousticGain != 1.0) {
                Normalizer::Scale(pa, pa, m, acousticGain);
            }
            Synthesizer::AddAcoustic(out.data() + b0, pa, m);
        }
        input.reset();
        Normalize();
    }
    return out;
}
