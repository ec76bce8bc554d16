#include "stages/StreamCore.h"

#include <algorithm>
#include <cmath>

#include "stages/Spread.h"

namespace stages {
namespace {

const uint32_t kStride = kTaps + 3 * StreamCore::kBlock;  // envelope (with room), pulses, held

}  // namespace

StreamCore::StreamCore(const Plan& plan, const std::optional<int64_t>& seed, double inputGain,
                       double outputGain)
    : plan(plan),
      inputGain(inputGain),
      outputGain(outputGain),
      latency(LatencyOf(this->plan)),
      detection(this->plan, kBlock),
      before(this->plan),
      selection(this->plan, kBlock),
      after(this->plan),
      carriers(this->plan, seed, kBlock),
      bands(this->plan, kBlock),
      acoustic(this->plan, latency, kBlock),
      memory(size_t{plan.channels} * kStride, 0.0),
      x(kBlock, 0.0),
      sum(kBlock, 0.0),
      heard(kBlock, 0.0),
      zeros(latency, 0.0) {
    for (uint32_t i = 0; i < plan.channels; i++) {
        envelope.push_back(memory.data() + size_t{i} * kStride + kTaps);
        if (latency > 0) {
            pulses.emplace_back(UINT64_MAX, kBlock);
        }
    }
}

void StreamCore::Reset() {
    detection.Reset();
    before.Reset();
    selection.Reset();
    after.Reset();
    for (block::PulseStream& p : pulses) {
        p.Reset();
    }
    carriers.Reset();
    bands.Reset();
    acoustic.Reset();
    position = 0;
    clipped = 0;
}

void StreamCore::Process(const double* in, size_t count, double* out) {
    for (size_t done = 0; done < count; done += kBlock) {
        const auto m = static_cast<uint32_t>(std::min<size_t>(kBlock, count - done));
        Block(in + done, m, out + done);
    }
}

void StreamCore::Flush(double* out) {
    Process(zeros.data(), latency, out);
}

void StreamCore::Block(const double* in, uint32_t m, double* out) {
    const uint32_t n = plan.channels;
    // A sample that is not a finite number (or overflows at the gain) is taken as silence: it
    // would otherwise stay in every filter's state for good.
    for (uint32_t j = 0; j < m; j++) {
        const double v = in[j] * inputGain;
        x[j] = std::isfinite(v) ? v : 0.0;
    }
    // The envelopes.
    double* const* rows = envelope.data();
    detection.Begin(x.data(), m);
    detection.Process(rows, 0, n);
    detection.End();
    before.Process(rows, 0, n, m, position);
    selection.Choose(rows, m);
    selection.Hold(rows, 0, n);
    after.Process(rows, 0, n, m, position);
    Spread(plan, rows, 0, m);
    // The carriers and the bands, for the positions whose pulses are known (the same for every
    // channel).
    uint32_t k = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (envelopeTap) {
            envelopeTap(tapContext, i, position, rows[i], m);
        }
        k = Carry(i, rows[i], m);
    }
    // The first `latency` output samples precede every band's first sample.
    const uint32_t silent = m - k;
    std::fill(sum.begin(), sum.begin() + m, 0.0);
    bands.Sum(sum.data() + silent, 0, k);
    bands.Advance(k);
    if (plan.eas) {
        acoustic.Process(x.data(), m, heard.data());
    }
    Finish(sum.data(), plan.eas ? heard.data() : nullptr, m, out);
    position += m;
}

uint32_t StreamCore::Carry(uint32_t i, double* row, uint32_t m) {
    double* p = row + kBlock;
    if (latency == 0) {
        std::fill(p, p + m, 0.0);
        carriers.Process(i, row, p, m, bands.Carrier(i));
        bands.Filter(i, m);
        return m;
    }
    block::PulseStream& train = pulses[i];
    train.Push(row, m);
    const uint64_t from = train.Next();
    const uint64_t upto = train.Ready();
    const auto k = static_cast<uint32_t>(upto - from);
    double* held = p + kBlock;
    train.Pull(upto, p, held);
    carriers.Process(i, held, p, k, bands.Carrier(i));
    bands.Filter(i, k);
    return k;
}

void StreamCore::Finish(const double* implant, const double* heardPart, uint32_t m, double* out) {
    for (uint32_t j = 0; j < m; j++) {
        double v = implant[j] * outputGain;
        if (heardPart) {
            v = v + heardPart[j];
        }
        if (!(v >= -1.0 && v <= 1.0)) {
            clipped++;
            v = v > 1.0 ? 1.0 : v < -1.0 ? -1.0 : 0.0;  // NaN: 0
        }
        out[j] = v;
    }
}

}  // namespace stages
