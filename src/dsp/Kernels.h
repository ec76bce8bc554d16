#pragma once

#include <cstdint>

struct RandomState;

// The inner loops of the simulation, over raw sample arrays, in two interchangeable versions
// with the same declarations (KernelSignatures.h):
//
// - reference_kernels: the plain loops, one output sample (or channel) after the other.
// - fast_kernels: the same arithmetic on many independent output samples or channels at once,
//   laid out for vector registers and compiled for several instruction sets, the best one
//   chosen when the program starts. Every output sample is computed by exactly the same
//   operations in exactly the same order as in the plain loop, so both give the same bits (the
//   build forbids contracting a multiply and an add into one rounding).
//
// The library calls them through the alias `kernels`: the fast versions, or the plain ones in
// a build configured with CIHEAR_REFERENCE_KERNELS, which exists to time whole runs against.
// The benchmarks and the equivalence tests name both namespaces directly.

// The kernels' two lengths, for every piece of the simulation that meets them.
namespace kernel_sizes {
// The taps of every FIR: 100 at 20000 Hz, a 5 ms window, enough for a band of about 200 Hz.
constexpr uint32_t kTaps = 100;
// The pulse train's window on either side of a peak: 250 samples, 12.5 ms at 20000 Hz.
constexpr uint32_t kPulseHalfWindow = 250;
}  // namespace kernel_sizes

namespace kernel_sizes {
// The distance between channels i and s of a current spread: |s - i|, or the distance between
// their electrodes' positions when given.
inline uint32_t Distance(const uint32_t* positions, uint32_t i, uint32_t s) {
    const uint32_t a = positions ? positions[i] : i;
    const uint32_t b = positions ? positions[s] : s;
    return a > b ? a - b : b - a;
}
}  // namespace kernel_sizes

namespace reference_kernels {
#include "dsp/KernelSignatures.h"
}  // namespace reference_kernels

namespace fast_kernels {
#include "dsp/KernelSignatures.h"
}  // namespace fast_kernels

#ifdef CIHEAR_REFERENCE_KERNELS
namespace kernels = reference_kernels;
#else
namespace kernels = fast_kernels;
#endif
