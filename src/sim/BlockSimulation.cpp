#include "sim/BlockSimulation.h"

#include <algorithm>
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
#include "signal/Signal.h"
#include "sim/Analyzer.h"
#include "sim/Selection.h"
#include "sim/Synthesizer.h"

namespace {

const uint32_t numTaps = FilterFIR::num_taps;
const uint64_t halfWindow = 250;
const uint32_t group = 8;  // channels per vector of the IIR kernel

// The pulse train of one channel (kernels::PulseTrain) as a stream: final envelope samples go in
// in order, and p[j] comes out once the envelope is known to j + 251 (the strict maxima need one
// sample after them, the counts 250 more). Keeps only the samples still needed.
class PulseStream {
public:
    explicit PulseStream(uint64_t length) : length(length) {}

    void Push(const double* e, uint32_t m) {
        x.insert(x.end(), e, e + m);
        pushed += m;
        const uint64_t end = pushed == length ? length : pushed - 1;  // needs x[i + 1]
        marks.resize(static_cast<size_t>(pushed - base), 0);
        for (uint64_t i = marked; i < end; i++) {
            uint8_t mark = 0;
            if (i >= halfWindow && i + halfWindow < length) {
                const double v = x[i - base];
                mark = v > x[i - 1 - base] && v > x[i + 1 - base];
            }
            marks[i - base] = mark;
        }
        marked = std::max(marked, end);
    }

    uint64_t Next() const { return next; }

    // The positions whose pulses are known: [next, Ready()).
    uint64_t Ready() const {
        if (pushed == length) {
            return length;
        }
        return pushed > halfWindow + 1 ? std::max(next, pushed - halfWindow - 1) : next;
    }

    // p and the envelope at positions next .. upto-1, into p and env; moves next to upto.
    void Pull(uint64_t upto, double* p, double* env) {
        for (uint64_t j = next; j < upto; j++) {
            if (j == 0) {
                count = 0;
                for (uint64_t i = 0; i <= halfWindow && i < length; i++) {
                    count += marks[i - base];
                }
            } else {
                if (j + halfWindow < length) {
                    count += marks[j + halfWindow - base];
                }
                if (j >= halfWindow + 1) {
                    count -= marks[j - halfWindow - 1 - base];
                }
            }
            p[j - next] = marks[j - base] ? 1.0 / static_cast<double>(count) : 0.0;
            env[j - next] = x[j - base];
        }
        next = upto;
        // Keep from next - 251 on: the count drops mark(next - 251) when it moves on, and a
        // mark reads the sample before it.
        const uint64_t keep = next > halfWindow + 2 ? next - halfWindow - 2 : 0;
        if (keep > base + 8192) {
            x.erase(x.begin(), x.begin() + static_cast<ptrdiff_t>(keep - base));
            marks.erase(marks.begin(), marks.begin() + static_cast<ptrdiff_t>(keep - base));
            base = keep;
        }
    }

private:
    uint64_t length;
    uint64_t pushed = 0;
    uint64_t marked = 0;
    uint64_t next = 0;
    uint64_t base = 0;
    uint32_t count = 0;
    std::vector<double> x;
    std::vector<uint8_t> marks;
};

}  // namespace

std::vector<double> BlockSimulation::Run(std::unique_ptr<Signal>& input) {
    const uint64_t L = input->GetLength();
    const uint32_t n = parameters->n_inserted_ch->GetValue();
    if (L == 0) {
        input.reset();
        return {};
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

    // The N-of-M cycles (Analyzer::N_of_M): cycle c holds its frame [a, FrameEnd(c)).
    const double rate = parameters->rate->GetValue();
    const uint32_t nOn = parameters->n_on->GetValue();
    const double cycleCount =
        std::floor(static_cast<double>(static_cast<uint32_t>(L)) * (rate / fs) - 1.0);
    const int64_t cycles = cycleCount > 0.0 ? static_cast<int64_t>(cycleCount) : 0;
    auto FrameEnd = [&](int64_t c) {
        return static_cast<uint64_t>(static_cast<int64_t>(std::floor(c * (fs / rate))));
    };
    const uint64_t tailStart = cycles > 0 ? FrameEnd(cycles - 1) : 0;
    std::vector<double> frameValues(static_cast<size_t>(cycles) * n);
    std::vector<double> tail(static_cast<size_t>(L - tailStart) * n);

    std::vector<std::vector<double>> work(n, std::vector<double>(B));
    std::vector<double*> rows(n);
    for (uint32_t i = 0; i < n; i++) {
        rows[i] = work[i].data();
    }
    const uint32_t groups = (n + group - 1) / group;

    auto Smooth = [&](std::vector<double>& state, uint64_t b0, uint32_t m) {
        parallel::For(threads, groups, [&](uint32_t gi) {
            const uint32_t first = gi * group;
            kernels::FilterChannelsFrom(
                smoothing.GetA(), smoothing.GetB(), smoothing.GetNumCoeffs(), rows.data() + first,
                std::min(group, n - first), m, b0, state.data() + 16 * first);
        });
    };
    auto Mix = [&](uint32_t m) {
        const uint32_t parts = std::min<uint32_t>(threads, (m + 1023) / 1024);
        parallel::For(threads, std::max<uint32_t>(parts, 1), [&](uint32_t k) {
            const uint32_t first =
                static_cast<uint32_t>(uint64_t(m) * k / std::max<uint32_t>(parts, 1));
            const uint32_t end =
                static_cast<uint32_t>(uint64_t(m) * (k + 1) / std::max<uint32_t>(parts, 1));
            std::vector<double*> r(n);
            for (uint32_t i = 0; i < n; i++) {
                r[i] = rows[i] + first;
            }
            kernels::MixChannels(weights.data(), r.data(), n, end - first);
        });
    };

    // ---- Pass 1: the analysis, the frames, the energies ------------------------------------
    std::vector<double> noiseEnergy(n, 0.0);
    std::vector<double> pulseEnergy(n, 0.0);
    std::vector<RandomState> starts(n + 1);
    {
        // The noise of every channel, one stretch of the sequence after the other, drawn by one
        // task a slice per block beside the analysis.
        RandomState chain = *random;
        starts[0] = chain;
        uint32_t chainChannel = 0;
        uint64_t chainPos = 0;
        std::vector<double> noiseBuffer(4096);
        auto DrawNoise = [&](uint64_t amount) {
            while (amount > 0 && chainChannel < n) {
                const uint32_t take = static_cast<uint32_t>(
                    std::min<uint64_t>({amount, L - chainPos, noiseBuffer.size()}));
                kernels::Randn(chain, noiseBuffer.data(), take);
                double e = noiseEnergy[chainChannel];
                for (uint32_t j = 0; j < take; j++) {
                    e = e + noiseBuffer[j] * noiseBuffer[j];
                }
                noiseEnergy[chainChannel] = e;
                chainPos += take;
                amount -= take;
                if (chainPos == L) {
                    chainPos = 0;
                    chainChannel++;
                    starts[chainChannel] = chain;
                }
            }
        };

        const double* x = input->GetSamples();
        std::vector<double> smoothState1(16 * n, 0.0), smoothState2(16 * n, 0.0);
        std::vector<double> bpState(16 * n, 0.0), lpState(16 * n, 0.0);
        std::vector<PulseStream> pulses(n, PulseStream(L));
        std::vector<std::vector<double>> pBuf(n), eBuf(n);

        // The selection, carried across blocks.
        int64_t c = 0;
        uint64_t a = 0;
        int32_t selected = 0;
        uint64_t curEnd = 0;
        int64_t ranAt = -1;
        std::vector<double> values(n);
        std::vector<uint32_t> marks(n);

        for (uint64_t b0 = 0; b0 < L; b0 += B) {
            const uint32_t m = static_cast<uint32_t>(std::min<uint64_t>(B, L - b0));
            // Detection and the first smoothing, a group of channels per task, and a slice of
            // the noise.
            parallel::For(threads, groups + 1, [&](uint32_t task) {
                if (task == 0) {
                    DrawNoise(static_cast<uint64_t>(n) * m);
                    return;
                }
                const uint32_t first = (task - 1) * group;
                const uint32_t count = std::min(group, n - first);
                std::vector<double> scratch;
                for (uint32_t i = first; i < first + count; i++) {
                    double* e = rows[i];
                    if (method == 0) {
                        const uint64_t from = b0 >= numTaps ? b0 - numTaps : 0;
                        const uint32_t span = static_cast<uint32_t>(b0 + m - from);
                        scratch.resize(span);
                        kernels::QuadratureMagnitude(detectSin[i]->GetCoeffs(),
                                                     detectCos[i]->GetCoeffs(), x + from,
                                                     scratch.data(), span);
                        std::copy(scratch.begin() + static_cast<ptrdiff_t>(b0 - from),
                                  scratch.end(), e);
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
                }
                kernels::FilterChannelsFrom(smoothing.GetA(), smoothing.GetB(),
                                            smoothing.GetNumCoeffs(), rows.data() + first, count, m,
                                            b0, smoothState1.data() + 16 * first);
            });

            // N-of-M, in order.
            for (uint32_t t = 0; t < m; t++) {
                const uint64_t j = b0 + t;
                if (j >= tailStart) {
                    for (uint32_t ch = 0; ch < n; ch++) {
                        tail[(j - tailStart) * n + ch] = rows[ch][t];
                    }
                }
                bool entered = false;
                while (c < cycles && a == j) {
                    if (!entered) {
                        for (uint32_t ch = 0; ch < n; ch++) {
                            values[ch] = rows[ch][t];
                        }
                        entered = true;
                    }
                    const uint64_t b = FrameEnd(c);
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
                    std::copy(values.begin(), values.end(),
                              frameValues.begin() + static_cast<ptrdiff_t>(c * n));
                    curEnd = b;
                    ranAt = static_cast<int64_t>(j);
                    a = b;
                    c++;
                }
                if (ranAt == static_cast<int64_t>(j) || j < curEnd) {
                    for (uint32_t ch = 0; ch < n; ch++) {
                        rows[ch][t] = values[ch];
                    }
                }
            }

            Smooth(smoothState2, b0, m);
            Mix(m);
            parallel::For(threads, n, [&](uint32_t i) {
                pulses[i].Push(rows[i], m);
                std::vector<double>& p = pBuf[i];
                std::vector<double>& e = eBuf[i];
                p.resize(B + 512);
                e.resize(B + 512);
                for (;;) {
                    const uint64_t from = pulses[i].Next();
                    const uint64_t upto = std::min<uint64_t>(pulses[i].Ready(), from + p.size());
                    if (upto <= from) {
                        break;
                    }
                    pulses[i].Pull(upto, p.data(), e.data());
                    double energy = pulseEnergy[i];
                    for (uint64_t j = 0; j < upto - from; j++) {
                        energy = energy + p[j] * p[j];
                    }
                    pulseEnergy[i] = energy;
                }
            });
        }
        *random = chain;  // after every channel's draws, as the synthesizer leaves it
    }
    if (!eas) {
        input.reset();  // the second pass needs the frames only
    }

    // ---- Pass 2: the envelopes again, the synthesis -------------------------------------------
    std::vector<double> gains(n);
    for (uint32_t i = 0; i < n; i++) {
        gains[i] = pulseEnergy[i] > 0.0 ? std::sqrt(noiseEnergy[i] / pulseEnergy[i]) : 0.0;
    }
    std::vector<double> out(static_cast<size_t>(L), 0.0);
    if (envelopes) {
        envelopes->assign(static_cast<size_t>(L) * n, 0.0);
    }
    {
        std::vector<double> smoothState2(16 * n, 0.0);
        std::vector<PulseStream> pulses(n, PulseStream(L));
        std::vector<RandomState> noiseStates(starts.begin(), starts.begin() + n);
        // Per channel: the modulated carrier with the 100 samples before it, and its band.
        const uint32_t room = B + 512;
        std::vector<std::vector<double>> modulated(n, std::vector<double>(numTaps + room, 0.0));
        std::vector<std::vector<double>> band(n, std::vector<double>(numTaps + room));
        std::vector<std::vector<double>> pBuf(n, std::vector<double>(room));
        std::vector<std::vector<double>> eBuf(n, std::vector<double>(room));
        std::vector<std::vector<double>> nBuf(n, std::vector<double>(room));

        int64_t c = 0;
        uint64_t a = 0;
        uint64_t curEnd = 0;
        int64_t ranAt = -1;
        const double* current = nullptr;
        for (uint64_t b0 = 0; b0 < L; b0 += B) {
            const uint32_t m = static_cast<uint32_t>(std::min<uint64_t>(B, L - b0));
            // The selected envelopes, from the frames and the tail.
            for (uint32_t t = 0; t < m; t++) {
                const uint64_t j = b0 + t;
                while (c < cycles && a == j) {
                    current = frameValues.data() + c * n;
                    curEnd = FrameEnd(c);
                    ranAt = static_cast<int64_t>(j);
                    a = curEnd;
                    c++;
                }
                if (ranAt == static_cast<int64_t>(j) || j < curEnd) {
                    for (uint32_t ch = 0; ch < n; ch++) {
                        rows[ch][t] = current[ch];
                    }
                } else {
                    for (uint32_t ch = 0; ch < n; ch++) {
                        rows[ch][t] = tail[(j - tailStart) * n + ch];
                    }
                }
            }
            Smooth(smoothState2, b0, m);
            Mix(m);
            if (envelopes) {
                for (uint32_t ch = 0; ch < n; ch++) {
                    std::copy(rows[ch], rows[ch] + m,
                              envelopes->begin() + static_cast<ptrdiff_t>(ch * L + b0));
                }
            }
            // Every channel's stream is at the same place, so every band covers the same
            // positions [from, upto), added to the output in channel order.
            for (uint32_t i = 0; i < n; i++) {
                pulses[i].Push(rows[i], m);
            }
            for (;;) {
                const uint64_t from = pulses[0].Next();
                const uint64_t upto = std::min<uint64_t>(pulses[0].Ready(), from + room);
                if (upto <= from) {
                    break;
                }
                const uint32_t k = static_cast<uint32_t>(upto - from);
                parallel::ForOrdered(
                    threads, n,
                    [&](uint32_t i) {
                        pulses[i].Pull(upto, pBuf[i].data(), eBuf[i].data());
                        kernels::Randn(noiseStates[i], nBuf[i].data(), k);
                        double* mod = modulated[i].data();
                        Synthesizer::Modulate(eBuf[i].data(), nBuf[i].data(), pBuf[i].data(),
                                              gains[i], sync, mod + numTaps, k);
                        kernels::Convolve(bands[i]->GetCoeffs(), mod, band[i].data(), numTaps + k);
                        // The band's first numTaps samples are 0.
                        for (uint64_t q = from; q < upto && q < numTaps; q++) {
                            band[i][numTaps + (q - from)] = 0.0;
                        }
                        std::copy(mod + k, mod + k + numTaps, mod);
                    },
                    [&](uint32_t i) {
                        const double* y = band[i].data() + numTaps;
                        double* o = out.data() + from;
                        for (uint32_t j = 0; j < k; j++) {
                            o[j] = o[j] + y[j];
                        }
                    });
            }
        }
    }

    // ---- The whole output: peak normalisation, and under eas the hearing aid's part ----------
    auto Normalize = [&]() {
        double peak = 0.0;
        for (const double v : out) {
            if (std::fabs(v) > peak) {
                peak = std::fabs(v);
            }
        }
        if (peak == 0.0) {
            std::fill(out.begin(), out.end(), 0.0);
            return;
        }
        Normalizer::Scale(out.data(), out.data(), L, 0.9999 * (1.0 / peak));
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
            Synthesizer::AddAcoustic(out.data() + b0, pa, m);
        }
        input.reset();
        Normalize();
    }
    return out;
}
