// cihear-live's processing without devices (bench/live prints it with the processor model):
// the stream's latency, the delay as heard through stream and converters, and the processor
// load of the audio callback at the defaults.
#include <cihear/cihear.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "app/cli.h"
#include "live/Converter.h"
#include "live/Processor.h"
#include "signal/Signal.h"

namespace {

const double kRate = 48000;
const size_t kPeriod = 256;

// The first sample within 20 dB of the largest.
size_t Onset(const std::vector<float>& x) {
    float peak = 0;
    for (float v : x) {
        peak = std::max(peak, std::fabs(v));
    }
    size_t i = 0;
    while (i < x.size() && std::fabs(x[i]) < 0.1f * peak) {
        i++;
    }
    return i;
}

live::ProcessorConfig Config(double synchronization) {
    live::ProcessorConfig c;
    c.settings.synchronization = synchronization;
    c.deviceRate = kRate;
    c.period = kPeriod;
    return c;
}

// An impulse into the device input, the onset of the response at the device output.
void DelayAsHeard(double synchronization) {
    live::Processor processor(Config(synchronization));
    const size_t calls = static_cast<size_t>(kRate / kPeriod), at = 10 * kPeriod + 100;
    std::vector<float> in(calls * kPeriod, 0.0f), out(in.size());
    in[at] = 0.5f;
    for (size_t k = 0; k < calls; k++) {
        processor.Process(&in[k * kPeriod], &out[k * kPeriod], kPeriod);
    }
    const std::vector<float> tail(out.begin() + at, out.end());
    std::printf(
        "synchronization %g: stream latency %zu samples (%.2f ms); program latency %.2f ms "
        "(converters %.2f ms); delay as heard %.2f ms (impulse to onset at -20 dB, converters "
        "included, device buffers not)\n",
        synchronization, processor.GetStream().Latency(), processor.StreamMilliseconds(),
        1000.0 * processor.LatencyFrames() / kRate, processor.ConverterMilliseconds(),
        1000.0 * Onset(tail) / kRate);
}

// A minute of speech at the device rate, from the example file.
std::vector<float> Speech() {
    std::unique_ptr<Signal> file(read(CIHEAR_SOURCE_DIR "/examples/speech.wav"));
    std::vector<float> x20;
    while (file && x20.size() < 60 * cihear::kOutputRate) {
        x20.insert(x20.end(), file->GetSamples(), file->GetSamples() + file->GetLength());
    }
    live::Converter up(cihear::kOutputRate, kRate);
    std::vector<float> x(3 * x20.size());
    x.resize(up.Process(x20.data(), x20.size(), x.data(), x.size()));
    return x;
}

// The thread's processor time, which leaves out the time it was not running (on a busy machine
// a callback run back to back with the next is often interrupted).
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// The callback's processor time per second of audio at the defaults (best of three runs), and
// its longest calls against the period (the 99.9th percentile and the longest).
void Load() {
    const std::vector<float> x = Speech();
    const size_t calls = x.size() / kPeriod;
    double best = 1e300;
    std::vector<double> longest;
    for (int run = 0; run < 3; run++) {
        live::Processor processor(Config(1));
        std::vector<float> out(kPeriod);
        std::vector<double> each(calls);
        const double start = CpuSeconds();
        for (size_t k = 0; k < calls; k++) {
            const double t = CpuSeconds();
            processor.Process(&x[k * kPeriod], out.data(), kPeriod);
            each[k] = CpuSeconds() - t;
        }
        const double seconds = CpuSeconds() - start;
        if (seconds < best) {
            best = seconds;
            longest.swap(each);
        }
    }
    std::sort(longest.begin(), longest.end());
    const double audio = double(calls * kPeriod) / kRate, period = kPeriod / kRate;
    std::printf(
        "callback load at the defaults (48000 Hz, period 256, %.0f s of speech, best of 3): "
        "%.2f %% of one core; callbacks' 99.9th percentile %.1f %% of the period, longest "
        "%.1f %%\n",
        audio, 100 * best / audio, 100 * longest[calls * 999 / 1000] / period,
        100 * longest.back() / period);
}

}  // namespace

int main() {
    DelayAsHeard(1);
    DelayAsHeard(0);
    Load();
}
