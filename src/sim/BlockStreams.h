#pragma once

// The pieces of the block simulation that carry state across block edges: the stimulation
// frames, each channel's pulse train, the noise of pass 1, and what pass 1 keeps for pass 2.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp/Kernels.h"
#include "dsp/gasdev.h"
#include "signal/SampleMemory.h"
#include "stages/Carriers.h"

namespace block {

const uint64_t halfWindow = kernel_sizes::kPulseHalfWindow;  // of the pulse-train counts

// The N-of-M cycles (Analyzer::N_of_M), met sample by sample: cycle c starts where cycle c - 1
// ends and holds its frame [start, End(c)). A sample is held by the last cycle run at or before
// it while inside that cycle's frame (or at the cycle's start, for an empty frame), and by none
// after the last frame.
class FrameClock {
public:
    FrameClock(int64_t cycles, double fs, double rate) : cycles(cycles), fs(fs), rate(rate) {}

    uint64_t End(int64_t c) const {
        return static_cast<uint64_t>(static_cast<int64_t>(std::floor(c * (fs / rate))));
    }

    // Runs cycle(c, start, end) for every cycle that starts at sample j, in order.
    template <typename F>
    void Run(uint64_t j, F&& cycle) {
        while (c < cycles && start == j) {
            const uint64_t end = End(c);
            cycle(c, start, end);
            curEnd = end;
            ranAt = static_cast<int64_t>(j);
            start = end;
            c++;
        }
    }

    // The cycle holding sample j (once Run(j) is done), or -1.
    int64_t Holding(uint64_t j) const {
        return (ranAt == static_cast<int64_t>(j) || j < curEnd) ? c - 1 : -1;
    }

private:
    int64_t cycles;
    double fs;
    double rate;
    int64_t c = 0;
    uint64_t start = 0;
    uint64_t curEnd = 0;
    int64_t ranAt = -1;
};

// The pulse train of one channel (kernels::PulseTrain) as a stream: final envelope samples go in
// in order, and p[j] comes out once the envelope is known to j + 251 (the strict maxima need one
// sample after them, the counts 250 more). Keeps only the samples still needed, in room reserved
// once for blocks of up to `block` samples.
class PulseStream {
public:
    PulseStream(uint64_t length, uint32_t block) : length(length) {
        x.reserve(block + 16384);
        marks.reserve(block + 16384);
    }

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

    // Back to the state after construction, in the room already reserved.
    void Reset() {
        pushed = marked = next = base = 0;
        count = 0;
        x.clear();
        marks.clear();
    }

    // The positions whose pulses are known once `total` samples have been pushed:
    // [next, ReadyAt(total)).
    uint64_t ReadyAt(uint64_t total) const {
        if (total == length) {
            return length;
        }
        return total > halfWindow + 1 ? std::max(next, total - halfWindow - 1) : next;
    }
    uint64_t Ready() const { return ReadyAt(pushed); }

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

// The noise of every channel, one stretch of `length` values of the one random sequence after
// the other, as the synthesizer draws it: pass 1 draws it only for each channel's energy and for
// the state each channel's stretch starts from. Draw continues where the last call stopped, so
// the values do not depend on how the drawing is split.
class NoiseChain {
public:
    NoiseChain(const RandomState& start, uint32_t channels, uint64_t length)
        : state(start),
          length(length),
          channels(channels),
          starts(channels + 1, start),
          energies(channels, 0.0),
          buffer(4096) {
        if (length == 0) {
            channel = channels;
        }
    }

    bool Done() const { return channel == channels; }

    // Up to `amount` more values (fewer once every channel's stretch is drawn).
    void Draw(uint64_t amount) {
        while (amount > 0 && channel < channels) {
            const uint32_t take = static_cast<uint32_t>(
                std::min<uint64_t>({amount, length - position, buffer.size()}));
            kernels::Randn(state, buffer.data(), take);
            energies[channel] = stages::AddSquares(energies[channel], buffer.data(), take);
            position += take;
            amount -= take;
            if (position == length) {
                position = 0;
                channel++;
                starts[channel] = state;
            }
        }
    }

    // Once Done: where channel i's stretch starts (i = channels: the state after them all) and
    // its sum of squares.
    const RandomState& Start(uint32_t i) const { return starts[i]; }
    double Energy(uint32_t i) const { return energies[i]; }

private:
    RandomState state;
    uint64_t length;
    uint32_t channels;
    uint32_t channel = 0;
    uint64_t position = 0;
    std::vector<RandomState> starts;
    std::vector<double> energies;
    std::vector<double> buffer;
};

// What pass 1 keeps of the selection for pass 2 to rebuild the selected envelopes from: every
// frame's values (one per channel) and, from the end of the last frame on, the envelopes as they
// were (no frame holds them).
class FrameRecord {
public:
    FrameRecord(uint32_t channels, int64_t frames, uint64_t tailStart, uint64_t length, double fs,
                double rate, uint32_t block)
        : n(channels),
          tailStart(tailStart),
          clock(frames, fs, rate),
          values(sample_memory::MakeBuffer(static_cast<size_t>(frames) * channels)),
          tail(sample_memory::MakeBuffer(static_cast<size_t>(length - tailStart) * channels)),
          holding(block) {}

    uint64_t TailStart() const { return tailStart; }

    // A frame as stages::Selection reports it.
    void Keep(int64_t frame, const double* v) { std::copy(v, v + n, values.get() + frame * n); }
    // The envelopes rows[ch][0 .. m) of samples b0 .. b0+m-1 that lie in the tail, for
    // channels [first, first + count).
    void KeepTail(double* const* rows, uint32_t first, uint32_t count, uint64_t b0, uint32_t m) {
        for (uint32_t ch = first; ch < first + count; ch++) {
            for (uint64_t j = std::max(b0, tailStart); j < b0 + m; j++) {
                tail[(j - tailStart) * n + ch] = rows[ch][j - b0];
            }
        }
    }

    // Pass 2: which frame holds each sample of the block b0 .. b0+m-1 (in order, one thread),
    // then the envelopes of channels [first, first + count) rebuilt into rows.
    void Replay(uint64_t b0, uint32_t m) {
        for (uint32_t t = 0; t < m; t++) {
            clock.Run(b0 + t, [](int64_t, uint64_t, uint64_t) {});
            holding[t] = clock.Holding(b0 + t);
        }
    }
    void Rebuild(double* const* rows, uint32_t first, uint32_t count, uint64_t b0,
                 uint32_t m) const {
        for (uint32_t ch = first; ch < first + count; ch++) {
            double* e = rows[ch];
            for (uint32_t t = 0; t < m; t++) {
                e[t] = holding[t] >= 0 ? values[holding[t] * n + ch]
                                       : tail[(b0 + t - tailStart) * n + ch];
            }
        }
    }

private:
    uint32_t n;
    uint64_t tailStart;
    FrameClock clock;
    sample_memory::Buffer values;  // written before read: frame by frame, then the tail
    sample_memory::Buffer tail;
    std::vector<int64_t> holding;
};

}  // namespace block
