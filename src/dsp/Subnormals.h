#pragma once

// The measurement of subnormal arithmetic. x86 processors from Intel take a microcode assist,
// a hundred cycles and more, for every arithmetic operation with a subnormal operand; in digital
// silence the filters of the simulation settle on constant subnormal values, and everything
// downstream would compute with them. The loops skip the work that provably cannot change a
// bit (a filter at a fixed point, a per-sample function of repeated inputs); see the
// "shortcut" comments in Kernels.cpp and the simulation.
//
// A build configured with CIHEAR_COUNT_SUBNORMALS counts, machine-independently, the subnormal
// input operands that reach the arithmetic of the loops (each sample value once per operation
// that reads it: a tap's product, a recursion term, a mixing weight, a modulation, a scaling)
// and prints the total to standard error when the program ends. In that build the shortcuts can
// be switched off with CIHEAR_NO_SHORTCUTS=1 to count what the plain loops meet. Every other
// build compiles the counting away.

#include <cmath>
#include <cstdint>
#include <cstring>

namespace subnormals {

#ifdef CIHEAR_COUNT_SUBNORMALS
void Add(uint64_t count);
uint64_t Total();
bool ShortcutsEnabled();
inline uint64_t Is(double x) {
    return std::fpclassify(x) == FP_SUBNORMAL ? 1 : 0;
}
inline uint64_t InRange(const double* x, int64_t first, int64_t end) {
    uint64_t n = 0;
    for (int64_t i = first; i < end; i++) {
        n += Is(x[i]);
    }
    return n;
}
#define CIHEAR_TALLY(expr) subnormals::Add(expr)
#else
constexpr bool ShortcutsEnabled() {
    return true;
}
#define CIHEAR_TALLY(expr) ((void)0)
#endif

// Bitwise equality: +0 and -0 differ, a NaN equals itself.
inline bool Same(double a, double b) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// Whether x[first .. end) all have the bits of value.
inline bool AllSame(const double* x, int64_t first, int64_t end, double value) {
    uint64_t v;
    std::memcpy(&v, &value, sizeof v);
    for (int64_t i = first; i < end; i++) {
        uint64_t b;
        std::memcpy(&b, x + i, sizeof b);
        if (b != v) {
            return false;
        }
    }
    return true;
}

}  // namespace subnormals
