#include "dsp/Subnormals.h"

#ifdef CIHEAR_COUNT_SUBNORMALS
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace subnormals {

namespace {

std::atomic<uint64_t> total{0};

// Prints the count when the program ends.
struct Report {
    ~Report() {
        std::fprintf(stderr, "subnormal operands: %llu (shortcuts %s)\n",
                     static_cast<unsigned long long>(total.load()),
                     ShortcutsEnabled() ? "on" : "off");
    }
} report;

}  // namespace

void Add(uint64_t count) {
    if (count) {
        total.fetch_add(count, std::memory_order_relaxed);
    }
}

uint64_t Total() {
    return total.load();
}

bool ShortcutsEnabled() {
    static const bool enabled = [] {
        const char* off = std::getenv("CIHEAR_NO_SHORTCUTS");
        return !(off && off[0] == '1');
    }();
    return enabled;
}

}  // namespace subnormals
#endif
