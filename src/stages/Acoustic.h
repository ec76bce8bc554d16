#pragma once

// Acoustic: the hearing aid's part under electro-acoustic stimulation (eas): the input
// low-passed at cutoff_freq by an order-2 Butterworth (the plan's acousticLowPass), what a
// listener with residual low-frequency hearing still hears acoustically. Delay: the filter's
// group delay; the first two samples are 0 (FilterIIR). For the stream it is then delayed by
// `delay` samples, so that it meets the implant's part of the same instant.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dsp/Kernels.h"
#include "dsp/Subnormals.h"
#include "stages/Plan.h"

namespace stages {

// r[j] = r[j] + a[j] for j < count: the hearing aid's part a added to the implant's r.
inline void AddAcoustic(double* r, const double* a, uint32_t count) {
    // Shortcut: the same two operands as the sample before give its sum.
    double lastR = 0.0;
    double lastSum = 0.0;
    for (uint32_t j = 0; j < count; j++) {
        if (j > 0 && subnormals::ShortcutsEnabled() && subnormals::Same(r[j], lastR) &&
            subnormals::Same(a[j], a[j - 1])) {
            r[j] = lastSum;
            continue;
        }
        CIHEAR_TALLY(subnormals::Is(r[j]) + subnormals::Is(a[j]));
        lastR = r[j];
        lastSum = r[j] + a[j];
        r[j] = lastSum;
    }
}

class Acoustic {
public:
    Acoustic(const Plan& plan, uint32_t delay, uint32_t maxBlock)
        : filter(plan.acousticLowPass), delay(delay), line(delay + maxBlock, 0.0) {}

    // The next m input samples in x; out[j] = the low-passed input `delay` samples earlier.
    void Process(const double* x, uint32_t m, double* out) {
        if (m == 0) {
            return;
        }
        double* block = line.data() + delay;
        std::copy(x, x + m, block);
        kernels::FilterChannelsFrom(filter.a.data(), filter.b.data(), filter.Count(), &block, 1, m,
                                    position, state);
        std::copy(line.begin(), line.begin() + m, out);
        std::copy(line.begin() + m, line.begin() + m + delay, line.begin());
        position += m;
    }
    void Reset() {
        position = 0;
        std::fill(line.begin(), line.end(), 0.0);
        std::fill(state, state + 16, 0.0);
    }

private:
    const Recursive& filter;
    uint32_t delay;
    uint64_t position = 0;
    double state[16] = {};     // kernels::FilterChannelsFrom
    std::vector<double> line;  // the last `delay` filtered samples, then the block
};

}  // namespace stages
