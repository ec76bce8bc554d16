#include "dsp/Parallel.h"

#include <cstdlib>
#include <cstring>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace parallel {

unsigned DefaultThreadCount() {
#ifdef _OPENMP
    if (const char* text = std::getenv("CIHEAR_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value >= 1 && value <= 1024) {
            return static_cast<unsigned>(value);
        }
    }
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int cores = CPU_COUNT(&set);
        if (cores >= 1) {
            return static_cast<unsigned>(cores);
        }
    }
#endif
    const unsigned cores = std::thread::hardware_concurrency();
    return cores >= 1 ? cores : 1;
#else
    return 1;
#endif
}

}  // namespace parallel
