// The fast kernels. Speed comes only from working on many independent output samples (or
// channels) at once: a Vec holds eight of them, one per lane, and each lane goes through the
// very operations of the plain loop (ReferenceKernels.cpp) in the same order. Vector
// arithmetic is lane-wise IEEE arithmetic, so the bits cannot differ.
//
// The kernels are compiled for AVX-512, AVX2 and the baseline instruction set; the loader picks
// the best one the processor has when the program starts. The source is the same for all three
// and so is every result.

#include "dsp/Kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "dsp/Subnormals.h"
#include "dsp/gasdev.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(CIHEAR_NO_TARGET_CLONES)
#define CIHEAR_VECTOR_TARGETS __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define CIHEAR_VECTOR_TARGETS
#endif
// Helpers are inlined into each compiled variant so that they use its vector registers. No
// vector is passed or returned by value, which would tie the helpers to one calling convention.
#define CIHEAR_INLINE inline __attribute__((always_inline))

namespace fast_kernels {

namespace {

typedef double Vec __attribute__((vector_size(64)));
typedef int64_t Mask __attribute__((vector_size(64)));
const uint32_t lanes = sizeof(Vec) / sizeof(double);

const uint32_t numTaps = kernel_sizes::kTaps;
const uint32_t halfWindow = kernel_sizes::kPulseHalfWindow;

// Eight consecutive samples from any position of an array, and back.
CIHEAR_INLINE void Load(Vec& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}

CIHEAR_INLINE void Store(double* p, const Vec& v) {
    std::memcpy(p, &v, sizeof v);
}

// The taps that can change a sum. A sum starts at +0 and can never become -0 (round to nearest
// gives -0 only for -0 + -0), so adding a zero tap's product x*0 = +-0 leaves it unchanged,
// whatever the sign of that zero: the zero taps at either end of a window may be skipped, and
// a zero tap may be included. That holds for finite inputs only (inf*0 is NaN); an input with a
// non-finite sample gets every tap.
struct TapSpan {
    uint32_t first;
    uint32_t end;
};

CIHEAR_INLINE TapSpan NonZeroTaps(const double* h) {
    uint32_t first = 0;
    while (first < numTaps && h[first] == 0.0) {
        first++;
    }
    uint32_t end = numTaps;
    while (end > first && h[end - 1] == 0.0) {
        end--;
    }
    return {first, end};
}

CIHEAR_INLINE TapSpan Union(TapSpan a, TapSpan b) {
    if (a.first == a.end) {
        return b;
    }
    if (b.first == b.end) {
        return a;
    }
    return {std::min(a.first, b.first), std::max(a.end, b.end)};
}

CIHEAR_VECTOR_TARGETS bool AllFinite(const double* x, uint32_t length) {
    const int64_t exponent = 0x7ff0000000000000;  // all ones: infinity or NaN
    Mask bad = {};
    uint32_t n = 0;
    for (; n + lanes <= length; n += lanes) {
        Mask bits;
        std::memcpy(&bits, x + n, sizeof bits);
        bad |= (bits & exponent) == exponent;
    }
    for (uint32_t l = 0; l < lanes; l++) {
        if (bad[l] != 0) {
            return false;
        }
    }
    for (; n < length; n++) {
        if (!std::isfinite(x[n])) {
            return false;
        }
    }
    return true;
}

// The taps to run over x: the non-zero ones if x is finite, else all. A window that already
// takes every tap needs no look at x.
TapSpan SpanFor(TapSpan nonZero, const double* x, uint32_t length) {
    if (nonZero.first == 0 && nonZero.end == numTaps) {
        return nonZero;
    }
    return AllFinite(x, length) ? nonZero : TapSpan{0, numTaps};
}

// acc[v] lane l = the sum for output sample n + v*lanes + l, taps taken in increasing k.
template <uint32_t V>
CIHEAR_INLINE void FirBlock(const double* h, TapSpan span, const double* x, uint32_t n, Vec* acc) {
#pragma GCC unroll 8
    for (uint32_t v = 0; v < V; v++) {
        acc[v] = Vec{};
    }
    for (uint32_t k = span.first; k < span.end; k++) {
        const double hk = h[k];
        const double* xk = x + n - k;
#pragma GCC unroll 8
        for (uint32_t v = 0; v < V; v++) {
            Vec xv;
            Load(xv, xk + v * lanes);
            acc[v] = xv * hk + acc[v];
        }
    }
}

// The same for two tap sets on one input: each input vector is loaded once for both.
template <uint32_t V>
CIHEAR_INLINE void FirPairBlock(const double* hs, const double* hc, TapSpan span, const double* x,
                                uint32_t n, Vec* s, Vec* c) {
#pragma GCC unroll 8
    for (uint32_t v = 0; v < V; v++) {
        s[v] = Vec{};
        c[v] = Vec{};
    }
    for (uint32_t k = span.first; k < span.end; k++) {
        const double hsk = hs[k];
        const double hck = hc[k];
        const double* xk = x + n - k;
#pragma GCC unroll 8
        for (uint32_t v = 0; v < V; v++) {
            Vec xv;
            Load(xv, xk + v * lanes);
            s[v] = xv * hsk + s[v];
            c[v] = xv * hck + c[v];
        }
    }
}

CIHEAR_INLINE double FirSample(const double* h, TapSpan span, const double* x, uint32_t n) {
    double acc = 0.0;
    for (uint32_t k = span.first; k < span.end; k++) {
        acc = x[n - k] * h[k] + acc;
    }
    return acc;
}

// Output samples per block of the FIR loops: four vectors keep enough sums in flight to hide
// the latency of the additions.
const uint32_t firVectors = 4;
const uint32_t firBlock = firVectors * lanes;

// Shortcut: an output is a function of the inputs in its window alone. When every input that
// outputs n .. n+m-1 and output n-1 read is one and the same value (bit for bit), the outputs
// repeat output n-1 (which must have come from the taps: n - 1 >= numTaps). In digital silence
// the inputs settle on one value, often a subnormal one that would slow every product down.
CIHEAR_INLINE bool WindowRepeats(const double* x, TapSpan span, uint32_t n, uint32_t m) {
    if (!subnormals::ShortcutsEnabled() || n <= numTaps || span.first == span.end) {
        return false;
    }
    const int64_t first = static_cast<int64_t>(n) - static_cast<int64_t>(span.end);
    const int64_t end = static_cast<int64_t>(n) + m - span.first;
    return subnormals::AllSame(x, first, end, x[first]);
}

// The subnormal inputs that the products of outputs n .. n+m-1 read (counting builds only).
#ifdef CIHEAR_COUNT_SUBNORMALS
uint64_t WindowSubnormals(const double* x, TapSpan span, uint32_t n, uint32_t m) {
    uint64_t count = 0;
    for (uint32_t j = n; j < n + m; j++) {
        count += subnormals::InRange(x, int64_t(j) - span.end + 1, int64_t(j) - span.first + 1);
    }
    return count;
}
#endif

}  // namespace

CIHEAR_VECTOR_TARGETS void Convolve(const double* h, const double* x, double* y, uint32_t length) {
    std::fill(y, y + std::min(length, numTaps), 0.0);
    if (length <= numTaps) {
        return;
    }
    const TapSpan span = SpanFor(NonZeroTaps(h), x, length);
    uint32_t n = numTaps;
    for (; n + firBlock <= length; n += firBlock) {
        if (WindowRepeats(x, span, n, firBlock)) {
            std::fill(y + n, y + n + firBlock, y[n - 1]);
            continue;
        }
        CIHEAR_TALLY(WindowSubnormals(x, span, n, firBlock));
        Vec acc[firVectors];
        FirBlock<firVectors>(h, span, x, n, acc);
#pragma GCC unroll 8
        for (uint32_t v = 0; v < firVectors; v++) {
            Store(y + n + v * lanes, acc[v]);
        }
    }
    CIHEAR_TALLY(WindowSubnormals(x, span, n, length - n));
    for (; n < length; n++) {
        y[n] = FirSample(h, span, x, n);
    }
}

CIHEAR_VECTOR_TARGETS void ConvolveAdd(const double* h, const double* x, double* sum,
                                       uint32_t length) {
    // The first outputs are 0, and sum + 0 is not always sum (-0 + 0 is +0).
    for (uint32_t n = 0; n < numTaps && n < length; n++) {
        sum[n] = sum[n] + 0.0;
    }
    if (length <= numTaps) {
        return;
    }
    const TapSpan span = SpanFor(NonZeroTaps(h), x, length);
    uint32_t n = numTaps;
    double last = 0.0;  // the band's output n - 1
    for (; n + firBlock <= length; n += firBlock) {
        if (WindowRepeats(x, span, n, firBlock)) {
            CIHEAR_TALLY(subnormals::InRange(sum, n, n + firBlock) +
                         firBlock * subnormals::Is(last));
            for (uint32_t j = n; j < n + firBlock; j++) {
                sum[j] = sum[j] + last;
            }
            continue;
        }
        CIHEAR_TALLY(WindowSubnormals(x, span, n, firBlock));
        Vec acc[firVectors];
        FirBlock<firVectors>(h, span, x, n, acc);
#pragma GCC unroll 8
        for (uint32_t v = 0; v < firVectors; v++) {
            Vec old;
            Load(old, sum + n + v * lanes);
#ifdef CIHEAR_COUNT_SUBNORMALS
            for (uint32_t l = 0; l < lanes; l++) {
                CIHEAR_TALLY(subnormals::Is(old[l]) + subnormals::Is(acc[v][l]));
            }
#endif
            Store(sum + n + v * lanes, old + acc[v]);
        }
        last = acc[firVectors - 1][lanes - 1];
    }
    CIHEAR_TALLY(WindowSubnormals(x, span, n, length - n));
    for (; n < length; n++) {
        sum[n] = sum[n] + FirSample(h, span, x, n);
    }
}

CIHEAR_VECTOR_TARGETS void QuadratureMagnitude(const double* hs, const double* hc, const double* x,
                                               double* env, uint32_t length) {
    // Both sums are 0 there: sqrt(0*0 + 0*0).
    std::fill(env, env + std::min(length, numTaps), 0.0);
    if (length <= numTaps) {
        return;
    }
    const TapSpan span = SpanFor(Union(NonZeroTaps(hs), NonZeroTaps(hc)), x, length);
    uint32_t n = numTaps;
    for (; n + firBlock <= length; n += firBlock) {
        if (WindowRepeats(x, span, n, firBlock)) {
            std::fill(env + n, env + n + firBlock, env[n - 1]);
            continue;
        }
        CIHEAR_TALLY(2 * WindowSubnormals(x, span, n, firBlock));
        Vec s[firVectors];
        Vec c[firVectors];
        FirPairBlock<firVectors>(hs, hc, span, x, n, s, c);
        double power[firBlock];
#pragma GCC unroll 8
        for (uint32_t v = 0; v < firVectors; v++) {
            Store(power + v * lanes, s[v] * s[v] + c[v] * c[v]);
        }
        for (uint32_t l = 0; l < firBlock; l++) {
            env[n + l] = std::sqrt(power[l]);
        }
    }
    CIHEAR_TALLY(2 * WindowSubnormals(x, span, n, length - n));
    for (; n < length; n++) {
        const double s = FirSample(hs, span, x, n);
        const double c = FirSample(hc, span, x, n);
        env[n] = std::sqrt(s * s + c * c);
    }
}

namespace {

// Samples per channel moved through the interleaved buffer at a time.
const uint32_t iirBlock = 128;

// Up to `lanes` channels side by side, one per lane: the channels are interleaved into a
// buffer, block by block, run through the recurrence together and written back in place. The
// recurrence keeps its last N inputs and outputs in registers across blocks.
//
// Shortcut: output n is a function of x[n .. n-N+1] and y[n-1 .. n-N+1]. When those equal the
// operands of output n-1 (x[n] = x[n-1] = ... = x[n-N] and y[n-1] = ... = y[n-N], bit for bit,
// and y[n-1] came from the recurrence, n - 1 >= N), the filter is at a fixed point: y[n] =
// y[n-1], and so on for as long as the input repeats. A block whose every lane is at a fixed
// point and stays on its input repeats its last outputs without arithmetic.
template <uint32_t N>
CIHEAR_INLINE bool AtFixedPoint(const Vec* xh, const Vec* yh, const double (*buffer)[lanes],
                                uint32_t count, uint32_t m) {
    for (uint32_t l = 0; l < count; l++) {
        const double y1 = yh[1][l];
        const double x1 = xh[1][l];
        for (uint32_t k = 2; k <= N; k++) {
            if (!subnormals::Same(yh[k][l], y1) || !subnormals::Same(xh[k][l], x1)) {
                return false;
            }
        }
        for (uint32_t t = 0; t < m; t++) {
            if (!subnormals::Same(buffer[t][l], x1)) {
                return false;
            }
        }
    }
    return true;
}

template <uint32_t N>
CIHEAR_INLINE void FilterGroup(const double* a, const double* b, double* const* channels,
                               uint32_t count, uint32_t length, uint64_t start, double* state) {
    alignas(64) double buffer[iirBlock][lanes] = {};
    Vec xh[N + 1] = {};  // xh[k] = x[n-k]
    Vec yh[N + 1] = {};  // yh[k] = y[n-k]
    if (state) {
        for (uint32_t c = 0; c < count; c++) {
            for (uint32_t k = 1; k <= N; k++) {
                xh[k][c] = state[16 * c + k];
                yh[k][c] = state[16 * c + 8 + k];
            }
        }
    }
    for (uint32_t n0 = 0; n0 < length; n0 += iirBlock) {
        const uint32_t m = std::min(iirBlock, length - n0);
        for (uint32_t c = 0; c < count; c++) {
            for (uint32_t t = 0; t < m; t++) {
                buffer[t][c] = channels[c][n0 + t];
            }
        }
        if (subnormals::ShortcutsEnabled() && start + n0 >= N + 1 &&
            AtFixedPoint<N>(xh, yh, buffer, count, m)) {
            for (uint32_t t = 0; t < m; t++) {
                Store(buffer[t], yh[1]);
            }
        } else {
            for (uint32_t t = 0; t < m; t++) {
                Vec xn;
                Load(xn, buffer[t]);
                Vec y = {};  // the first N outputs are 0
                if (start + n0 + t >= N) {
#ifdef CIHEAR_COUNT_SUBNORMALS
                    for (uint32_t l = 0; l < count; l++) {
                        uint64_t c = subnormals::Is(xn[l]);
                        for (uint32_t k = 1; k < N; k++) {
                            c += subnormals::Is(xh[k][l]) + subnormals::Is(yh[k][l]);
                        }
                        CIHEAR_TALLY(c);
                    }
#endif
                    y = xn * b[0];
                    for (uint32_t k = 1; k < N; k++) {
                        y = (xh[k] * b[k] - yh[k] * a[k]) + y;
                    }
                }
                for (uint32_t k = N; k > 1; k--) {
                    xh[k] = xh[k - 1];
                    yh[k] = yh[k - 1];
                }
                xh[1] = xn;
                yh[1] = y;
                Store(buffer[t], y);
            }
        }
        for (uint32_t c = 0; c < count; c++) {
            for (uint32_t t = 0; t < m; t++) {
                channels[c][n0 + t] = buffer[t][c];
            }
        }
    }
    if (state) {
        // The history beyond N is never read by this filter; it keeps the values it had.
        for (uint32_t c = 0; c < count; c++) {
            for (uint32_t k = 1; k <= N && k < 8; k++) {
                state[16 * c + k] = xh[k][c];
                state[16 * c + 8 + k] = yh[k][c];
            }
        }
    }
}

template <uint32_t N>
CIHEAR_INLINE void FilterAll(const double* a, const double* b, double* const* channels,
                             uint32_t count, uint32_t length, uint64_t start, double* state) {
    for (uint32_t c = 0; c < count; c += lanes) {
        FilterGroup<N>(a, b, channels + c, std::min(lanes, count - c), length, start,
                       state ? state + 16 * c : nullptr);
    }
}

}  // namespace

CIHEAR_VECTOR_TARGETS void FilterChannels(const double* a, const double* b, uint32_t num_coeffs,
                                          double* const* channels, uint32_t count,
                                          uint32_t length) {
    switch (num_coeffs) {
        case 1:
            return FilterAll<1>(a, b, channels, count, length, 0, nullptr);
        case 2:
            return FilterAll<2>(a, b, channels, count, length, 0, nullptr);
        case 3:
            return FilterAll<3>(a, b, channels, count, length, 0, nullptr);
        case 4:
            return FilterAll<4>(a, b, channels, count, length, 0, nullptr);
        case 5:
            return FilterAll<5>(a, b, channels, count, length, 0, nullptr);
        case 6:
            return FilterAll<6>(a, b, channels, count, length, 0, nullptr);
        case 7:
            return FilterAll<7>(a, b, channels, count, length, 0, nullptr);
        default:
            return reference_kernels::FilterChannels(a, b, num_coeffs, channels, count, length);
    }
}

CIHEAR_VECTOR_TARGETS void FilterChannelsFrom(const double* a, const double* b, uint32_t num_coeffs,
                                              double* const* channels, uint32_t count,
                                              uint32_t length, uint64_t start, double* state) {
    switch (num_coeffs) {
        case 1:
            return FilterAll<1>(a, b, channels, count, length, start, state);
        case 2:
            return FilterAll<2>(a, b, channels, count, length, start, state);
        case 3:
            return FilterAll<3>(a, b, channels, count, length, start, state);
        case 4:
            return FilterAll<4>(a, b, channels, count, length, start, state);
        case 5:
            return FilterAll<5>(a, b, channels, count, length, start, state);
        case 6:
            return FilterAll<6>(a, b, channels, count, length, start, state);
        case 7:
            return FilterAll<7>(a, b, channels, count, length, start, state);
        default:
            return reference_kernels::FilterChannelsFrom(a, b, num_coeffs, channels, count, length,
                                                         start, state);
    }
}

namespace {

// Samples per channel mixed at a time: every output of a block needs every source of it, so
// the sources of one block are copied aside before the block is overwritten.
const uint32_t mixBlock = 64;

}  // namespace

CIHEAR_VECTOR_TARGETS void MixChannels(const double* w, double* const* channels, uint32_t count,
                                       uint32_t length, const uint32_t* positions) {
    // The working rows on the stack for every channel count the parameters allow, so that a
    // stream's block allocates nothing.
    const uint32_t onStack = 64;
    double stackRows[onStack * (mixBlock + 2)];
    std::vector<double> heapRows(count > onStack ? size_t{count} * (mixBlock + 2) : 0);
    double* sources = count > onStack ? heapRows.data() : stackRows;
    std::fill(sources, sources + size_t{count} * (mixBlock + 2), 0.0);
    // Shortcut: each sample's outputs are a function of that sample's sources alone. A block
    // whose sources all repeat the last sources mixed (bit for bit, channel by channel) repeats
    // the last outputs.
    double* lastSources = sources + size_t{count} * mixBlock;
    double* lastOutputs = lastSources + count;
    bool haveLast = false;
    for (uint32_t n0 = 0; n0 < length; n0 += mixBlock) {
        const uint32_t m = std::min(mixBlock, length - n0);
        for (uint32_t s = 0; s < count; s++) {
            std::copy(channels[s] + n0, channels[s] + n0 + m, sources + s * mixBlock);
        }
        if (haveLast && subnormals::ShortcutsEnabled()) {
            bool repeats = true;
            for (uint32_t s = 0; s < count && repeats; s++) {
                repeats = subnormals::AllSame(sources + s * mixBlock, 0, m, lastSources[s]);
            }
            if (repeats) {
                for (uint32_t i = 0; i < count; i++) {
                    std::fill(channels[i] + n0, channels[i] + n0 + m, lastOutputs[i]);
                }
                continue;
            }
        }
        CIHEAR_TALLY(count * subnormals::InRange(sources, 0, int64_t(count) * mixBlock));
        for (uint32_t i = 0; i < count; i++) {
            double* y = channels[i] + n0;
            uint32_t j = 0;
            for (; j + firBlock <= m; j += firBlock) {
                Vec acc[firVectors] = {};
                for (uint32_t s = 0; s < count; s++) {
                    const double weight = w[kernel_sizes::Distance(positions, i, s)];
                    const double* src = sources + s * mixBlock + j;
#pragma GCC unroll 8
                    for (uint32_t v = 0; v < firVectors; v++) {
                        Vec sv;
                        Load(sv, src + v * lanes);
                        acc[v] = acc[v] + sv * weight;
                    }
                }
#pragma GCC unroll 8
                for (uint32_t v = 0; v < firVectors; v++) {
                    Store(y + j + v * lanes, acc[v]);
                }
            }
            for (; j < m; j++) {
                double acc = 0.0;
                for (uint32_t s = 0; s < count; s++) {
                    acc = acc +
                          sources[s * mixBlock + j] * w[kernel_sizes::Distance(positions, i, s)];
                }
                y[j] = acc;
            }
        }
        for (uint32_t s = 0; s < count; s++) {
            lastSources[s] = sources[s * mixBlock + m - 1];
            lastOutputs[s] = channels[s][n0 + m - 1];
        }
        haveLast = true;
    }
}

void PulseTrain(const double* x, double* p, uint32_t length) {
    std::fill(p, p + length, 0.0);
    if (length <= 2 * halfWindow) {
        return;
    }
    const uint32_t end = length - halfWindow;
    for (uint32_t i = halfWindow; i < end; i++) {
        if (x[i] > x[i - 1] && x[i] > x[i + 1]) {
            p[i] = 1.0;
        }
    }
    // The number of pulses in the window i-250 .. i+250, slid along instead of recounted. A
    // pulse divided by its count stays non-zero, so the marks can be told from p itself.
    uint32_t count = 0;
    for (uint32_t j = 0; j <= 2 * halfWindow; j++) {
        count += p[j] != 0.0;
    }
    for (uint32_t i = halfWindow; i < end; i++) {
        if (p[i] != 0.0) {
            p[i] = p[i] / static_cast<double>(count);
        }
        if (i + 1 < end) {
            count -= p[i - halfWindow] != 0.0;
            count += p[i + halfWindow + 1] != 0.0;
        }
    }
}

// The random source keeps its state to itself, so the block version lives beside it.
void Randn(RandomState& state, double* out, uint32_t count) {
    randn_fill(state, out, count);
}

}  // namespace fast_kernels
