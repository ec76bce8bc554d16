#include "stages/Detection.h"

#include <algorithm>
#include <cmath>

#include "dsp/Kernels.h"
#include "dsp/RectLP_IIR_Detector.h"

namespace stages {

Detection::Detection(const Plan& plan, uint32_t maxBlock)
    : plan(plan),
      window(kTaps + maxBlock, 0.0),
      bandState(16 * plan.channels, 0.0),
      lowState(16 * plan.channels, 0.0) {}

void Detection::Reset() {
    position = 0;
    std::fill(window.begin(), window.end(), 0.0);
    std::fill(bandState.begin(), bandState.end(), 0.0);
    std::fill(lowState.begin(), lowState.end(), 0.0);
}

void Detection::Begin(const double* block, uint32_t count) {
    x = block;
    m = count;
    if (plan.detection == 0) {
        std::copy(x, x + m, window.begin() + kTaps);
    }
}

void Detection::Process(double* const* rows, uint32_t first, uint32_t count) {
    if (plan.detection == 0) {
        // The history then the block, in one window; the first kTaps outputs go to the room
        // before each row, and the samples before the FIRs are full are 0.
        const uint32_t empty =
            position >= kTaps ? 0 : static_cast<uint32_t>(std::min<uint64_t>(m, kTaps - position));
        for (uint32_t i = first; i < first + count; i++) {
            kernels::QuadratureMagnitude(plan.detectSin[i].data(), plan.detectCos[i].data(),
                                         window.data(), rows[i] - kTaps, kTaps + m);
            std::fill(rows[i], rows[i] + empty, 0.0);
        }
        return;
    }
    for (uint32_t i = first; i < first + count; i++) {
        double* e = rows[i];
        if (plan.detection != 1) {
            std::fill(e, e + m, 0.0);
            continue;
        }
        const Recursive& bp = plan.bandPass[i];
        const Recursive& lp = plan.detectorLowPass;
        std::copy(x, x + m, e);
        RectLP_IIR_Detector::Detect(bp.a.data(), bp.b.data(), bp.Count(), lp.a.data(), lp.b.data(),
                                    lp.Count(), e, m, position, bandState.data() + 16 * i,
                                    lowState.data() + 16 * i);
    }
}

void Detection::End() {
    if (plan.detection == 0) {
        // The last kTaps samples of history and block are the next block's history.
        std::copy(window.begin() + m, window.begin() + m + kTaps, window.begin());
    }
    position += m;
    x = nullptr;
    m = 0;
}

}  // namespace stages
