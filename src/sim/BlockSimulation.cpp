#include "sim/BlockSimulation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>

#include "dsp/Parallel.h"
#include "dsp/gasdev.h"
#include "params/Parameters.h"
#include "signal/SampleMemory.h"
#include "signal/Signal.h"
#include "sim/Analyzer.h"
#include "sim/BlockStreams.h"
#include "stages/Acoustic.h"
#include "stages/BandFilter.h"
#include "stages/Carriers.h"
#include "stages/Detection.h"
#include "stages/Normalization.h"
#include "stages/Plan.h"
#include "stages/Selection.h"
#include "stages/Smoothing.h"
#include "stages/Spread.h"
#include "stages/Synthesis.h"

namespace {

using stages::kTaps;
const uint32_t vectorWidth = 8;  // channels per vector of the IIR kernel

// Every channel's working row for one block, in one allocation: its envelope (with kTaps
// samples of room before it).
struct Rows {
    Rows(uint32_t n, uint32_t block)
        : stride(kTaps + block), memory(sample_memory::MakeBuffer(size_t{n} * stride)) {
        // Not initialised: every row is written before it is read, and its pages are first
        // touched by the parallel loops rather than all here by one thread.
        for (uint32_t i = 0; i < n; i++) {
            envelope.push_back(memory.get() + size_t{i} * stride + kTaps);
        }
    }

    size_t stride;
    sample_memory::Buffer memory;
    std::vector<double*> envelope;
};

// The simulation of one signal of `length` samples in blocks of `block` samples: the stages of
// the plan in two passes, then the whole-signal finishing.
class Offline {
public:
    Offline(const BlockSimulation& run, const stages::Plan& plan, parallel::Team& team,
            block::NoiseChain& noise, uint64_t length)
        : run(run),
          plan(plan),
          team(team),
          noise(noise),
          n(plan.channels),
          L(length),
          B(static_cast<uint32_t>(std::max<uint64_t>(1, std::min<uint64_t>(run.blockSize, L)))),
          cycles(Cycles()),
          frames(n, cycles, TailStart(), L, plan.sampleRate, plan.rate, B),
          rows(n, B) {
        energies.emplace(plan, L, B);
        // The channels in groups of at most a vector's width, as many groups as keep every
        // thread busy (12 channels on 2 threads: two groups of 6, not 8 and 4).
        const uint32_t vectors = (n + vectorWidth - 1) / vectorWidth;
        const uint32_t wanted =
            std::min(n, (vectors + team.Size() - 1) / team.Size() * team.Size());
        group = (n + wanted - 1) / wanted;
        groups = (n + group - 1) / group;
    }

    void Analyse(const double* x);
    std::vector<double> Synthesise();
    void Finish(std::vector<double>& out, const double* x);

private:
    int64_t Cycles() const { return stages::FrameCount(L, plan.rate, plan.sampleRate); }
    uint64_t TailStart() const {
        return cycles > 0 ? block::FrameClock(cycles, plan.sampleRate, plan.rate).End(cycles - 1)
                          : 0;
    }
    uint32_t First(uint32_t gi) const { return gi * group; }
    uint32_t Count(uint32_t gi) const { return std::min(group, n - gi * group); }
    // The current spread mixes every channel's sample with the other channels' same sample:
    // a slice of the block per task.
    uint32_t Parts(uint32_t m) const {
        return std::max<uint32_t>(1, std::min<uint32_t>(team.Size(), (m + 1023) / 1024));
    }
    // Slice k of `parts` of the block's m samples through the spread.
    void Spread(uint32_t m, uint32_t parts, uint32_t k) {
        stages::Spread(plan, rows.envelope.data(),
                       static_cast<uint32_t>(parallel::SliceStart(m, k, parts)),
                       static_cast<uint32_t>(parallel::SliceStart(m, k + 1, parts)));
    }
    template <typename F>
    void Loop(uint32_t count, F&& body);
    void SynthesiseBlock(uint64_t b0, uint32_t m, stages::Synthesis& synthesis,
                         std::vector<double>& out);
    void Normalize(std::vector<double>& out);
    static void KeepFrame(void* context, int64_t c, uint64_t a, uint64_t b, const double* v,
                          const uint32_t* marks);

    const BlockSimulation& run;
    const stages::Plan& plan;
    parallel::Team& team;
    block::NoiseChain& noise;
    const uint32_t n;
    const uint64_t L;
    const uint32_t B;
    const int64_t cycles;
    block::FrameRecord frames;
    Rows rows;
    uint32_t group = 1;
    uint32_t groups = 1;
    std::optional<stages::PulseEnergies> energies;  // pass 1 only
};

// The noise is one sequential draw. With one thread it is drawn a block's share at a time; with
// more, every loop of pass 1 (and the loading before it) gets one more task, which draws the
// noise while any other task of the loop is unfinished: the draw fills the threads' idle time
// instead of holding up a loop of its own.
template <typename F>
void DrawingLoop(parallel::Team& team, block::NoiseChain& noise, uint32_t count, F&& body) {
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
}

template <typename F>
void Offline::Loop(uint32_t count, F&& body) {
    DrawingLoop(team, noise, count, body);
}

void Offline::KeepFrame(void* context, int64_t c, uint64_t a, uint64_t b, const double* v,
                        const uint32_t* marks) {
    auto* self = static_cast<Offline*>(context);
    self->frames.Keep(c, v);
    SelectionRecord* record = self->run.selection;
    if (record && c > 0) {
        for (uint32_t ch = 0; ch < self->n; ch++) {
            record->levels.push_back(v[ch]);
            record->selected.push_back(static_cast<uint8_t>(marks[ch]));
        }
        record->starts.push_back(static_cast<int64_t>(a));
        record->lengths.push_back(static_cast<int64_t>(b) - static_cast<int64_t>(a));
    }
}

// ---- Pass 1: the analysis, the frames, the energies ----------------------------------------
void Offline::Analyse(const double* x) {
    stages::Detection detection(plan, B);
    stages::Smoothing before(plan);
    stages::Selection selection(plan, B, cycles);
    stages::Smoothing after(plan);
    selection.SetObserver(&Offline::KeepFrame, this);
    double* const* e = rows.envelope.data();
    for (uint64_t b0 = 0; b0 < L; b0 += B) {
        run.StopIfCancelled();
        const uint32_t m = static_cast<uint32_t>(std::min<uint64_t>(B, L - b0));
        if (team.Size() == 1) {
            noise.Draw(uint64_t{n} * m);
        }
        detection.Begin(x + b0, m);
        Loop(n, [&](uint32_t i) { detection.Process(e, i, 1); });
        detection.End();
        Loop(groups, [&](uint32_t gi) { before.Process(e, First(gi), Count(gi), m, b0); });
        Loop(1, [&](uint32_t) { selection.Choose(e, m); });
        Loop(groups, [&](uint32_t gi) {
            frames.KeepTail(e, First(gi), Count(gi), b0, m);
            selection.Hold(e, First(gi), Count(gi));
            after.Process(e, First(gi), Count(gi), m, b0);
        });
        const uint32_t parts = Parts(m);
        Loop(parts, [&](uint32_t k) { Spread(m, parts, k); });
        // The pulse trains' energies set their gains (a tone has none).
        Loop(plan.sine ? 0 : n, [&](uint32_t i) { energies->Channel(i, e[i], m); });
    }
    noise.Draw(UINT64_MAX);  // what the loops left
    // After every channel's draws, as the synthesizer leaves it.
    *run.random = noise.Start(plan.sine ? 0 : n);
}

// ---- Pass 2: the envelopes again, the synthesis ---------------------------------------------
std::vector<double> Offline::Synthesise() {
    // A tone carrier has no noise and no pulse gains.
    const std::vector<double> gains =
        plan.sine ? std::vector<double>(n, 0.0) : stages::PulseGains(noise, *energies, n);
    const std::vector<RandomState> starts =
        plan.sine ? std::vector<RandomState>() : stages::NoiseStarts(noise, n);
    energies.reset();  // before the output is made
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
    if (run.envelopes) {
        run.envelopes->assign(static_cast<size_t>(L) * n, 0.0);
    }
    stages::Smoothing after(plan);
    stages::Synthesis synthesis(plan, starts, gains, L, B, run.seed);
    double* const* e = rows.envelope.data();
    for (uint64_t b0 = 0; b0 < L; b0 += B) {
        run.StopIfCancelled();
        const uint32_t m = static_cast<uint32_t>(std::min<uint64_t>(B, L - b0));
        frames.Replay(b0, m);
        team.For(groups, [&](uint32_t gi) {
            frames.Rebuild(e, First(gi), Count(gi), b0, m);
            after.Process(e, First(gi), Count(gi), m, b0);
        });
        const uint32_t parts = Parts(m);
        team.For(parts, [&](uint32_t k) { Spread(m, parts, k); });
        SynthesiseBlock(b0, m, synthesis, out);
    }
    return out;
}

// The carriers and the bands of the positions whose pulses became known with this block
// (stages::Synthesis), added in channel order into the output, a slice of the positions per
// task.
void Offline::SynthesiseBlock(uint64_t b0, uint32_t m, stages::Synthesis& synthesis,
                              std::vector<double>& out) {
    const uint32_t k = synthesis.Begin(m);
    team.For(n, [&](uint32_t i) {
        const double* e = rows.envelope[i];
        if (run.envelopes) {
            std::copy(e, e + m, run.envelopes->begin() + static_cast<ptrdiff_t>(i * L + b0));
        }
        synthesis.Channel(i, e);
    });
    const uint32_t slices = Parts(k);
    team.For(k == 0 ? 0 : slices, [&](uint32_t s) {
        synthesis.Sum(out.data(), static_cast<uint32_t>(parallel::SliceStart(k, s, slices)),
                      static_cast<uint32_t>(parallel::SliceStart(k, s + 1, slices)));
    });
    synthesis.End();
}

// ---- The whole output: peak normalisation, and under eas the hearing aid's part ------------
// A slice of the output per thread: the largest magnitude of each (the peak is the largest of
// those, whatever the order), then each scaled.
void Offline::Normalize(std::vector<double>& out) {
    const uint32_t parts = team.Size();
    auto First = [&](uint32_t k) { return parallel::SliceStart(L, k, parts); };
    std::vector<double> peaks(parts, 0.0);
    team.For(parts, [&](uint32_t k) {
        peaks[k] = stages::Peak(out.data() + First(k), First(k + 1) - First(k));
    });
    const double peak = *std::max_element(peaks.begin(), peaks.end());
    team.For(parts, [&](uint32_t k) {
        double* y = out.data() + First(k);
        stages::ScaleToPeak(y, y, First(k + 1) - First(k), peak);
    });
}

void Offline::Finish(std::vector<double>& out, const double* x) {
    Normalize(out);
    if (!plan.eas) {
        return;
    }
    stages::Acoustic acoustic(plan, 0, B);
    std::vector<double> heard(B);
    for (uint64_t b0 = 0; b0 < L; b0 += B) {
        const uint32_t m = static_cast<uint32_t>(std::min<uint64_t>(B, L - b0));
        acoustic.Process(x + b0, m, heard.data());
        if (run.acousticGain != 1.0) {
            stages::Scale(heard.data(), heard.data(), m, run.acousticGain);
        }
        stages::AddAcoustic(out.data() + b0, heard.data(), m);
    }
    Normalize(out);
}

}  // namespace

void BlockSimulation::StopIfCancelled() const {
    if (cancelled && cancelled()) {
        throw Cancelled();
    }
}

std::vector<double> BlockSimulation::Run(std::unique_ptr<Signal>& input) {
    const uint64_t length = input->GetLength();
    return Run(length, [&input] { return std::move(input); });
}

std::vector<double> BlockSimulation::Run(uint64_t expected, const Loader& load) {
    const stages::Plan plan = settings ? stages::MakePlan(*settings, sampleRate)
                                       : stages::MakePlan(*parameters, sampleRate);
    // A tone carrier draws no noise.
    const uint32_t noisy = plan.sine ? 0 : plan.channels;
    std::unique_ptr<parallel::Team> own;
    if (!this->team) {
        own = std::make_unique<parallel::Team>(threads);
    }
    parallel::Team& team = this->team ? *this->team : *own;
    block::NoiseChain noise(*random, noisy, expected);
    std::unique_ptr<Signal> input;
    DrawingLoop(team, noise, 1, [&](uint32_t) { input = load(); });
    if (!input) {
        throw LoadFailed();
    }
    const uint64_t L = input->GetLength();
    if (L == 0) {
        return {};
    }
    if (L != expected) {
        noise = block::NoiseChain(*random, noisy, L);  // drawn again for the length there is
    }
    Offline offline(*this, plan, team, noise, L);
    offline.Analyse(input->GetSamples());
    if (!plan.eas) {
        input.reset();  // the second pass needs the frames only
    }
    std::vector<double> out = offline.Synthesise();
    offline.Finish(out, plan.eas ? input->GetSamples() : nullptr);
    return out;
}
