// cihear-live's processing without devices (bench/live prints it with the processor model):
// where the delay as heard goes (each converter's own response and buffering, the simulation's
// filters, the stream's latency), the delay as heard through stream and converters at a few
// device rates, and the processor load of the audio callback at the defaults.
#include <cihear/cihear.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "app/cli.h"
#include "live/Converter.h"
#include "live/Onset.h"
#include "live/Processor.h"
#include "signal/Signal.h"

namespace {

const double kRate = 48000;
const size_t kPeriod = 256;
const double kStreamRate = cihear::kOutputRate;
// Impulses at this many places, a prime number of frames apart (the response's onset moves with
// where an impulse falls in the stimulation cycle and in the converters' blocks).
const int kPlaces = 12;
const size_t kPlaceStep = 97;

// The first sample within 20 dB of the largest, from `from` on, counted from there.
size_t Onset(const std::vector<float>& x, size_t from = 0) {
    return live::Onset(x, from) - from;
}

size_t Peak(const std::vector<float>& x) {
    size_t p = 0;
    for (size_t i = 0; i < x.size(); i++) {
        p = std::fabs(x[i]) > std::fabs(x[p]) ? i : p;
    }
    return p;
}

// The group delay of an impulse response at f Hz, in samples.
double GroupDelay(const std::vector<float>& h, double f, double rate) {
    std::complex<double> sum = 0, weighted = 0;
    for (size_t n = 0; n < h.size(); n++) {
        const std::complex<double> e = std::polar(double(h[n]), -2 * M_PI * f * double(n) / rate);
        sum += e;
        weighted += double(n) * e;
    }
    return (weighted / sum).real();
}

struct Spread {
    double low = 1e300, middle = 0, high = -1e300;
};

Spread Of(std::vector<double> x) {
    std::sort(x.begin(), x.end());
    return {x.front(), x[x.size() / 2], x.back()};
}

// One converter: its response to an impulse given in one block (aligned with the input: the
// onset, peak and group delay at 1 kHz against where the impulse belongs), and the lag of its
// output behind the input when fed a period at a time (from the start its alignment holds back
// to the most its blocks add).
void OneConverter(double from, double to, double chunk) {
    const auto n = static_cast<size_t>(from);
    std::vector<float> x(n, 0.0f), y(4 * n + 65536);
    x[n / 2] = 1;
    live::Converter whole(from, to);
    y.resize(whole.Process(x.data(), n, y.data(), y.size()));
    const double at = std::round(n / 2 * to / from), ms = 1000 / to;
    live::Converter streamed(from, to);
    std::fill(x.begin(), x.end(), 0.0f);
    std::vector<float> out(4 * n + 65536);
    int64_t produced = int64_t(streamed.Process(x.data(), n, out.data(), out.size()));
    double taken = double(n), low = 1e300, high = -1e300;
    for (int k = 0; k < 3 * from / chunk; k++) {
        const auto m = static_cast<size_t>(std::floor((k + 1) * chunk) - std::floor(k * chunk));
        taken += double(m);
        produced += int64_t(streamed.Process(x.data(), m, out.data(), out.size()));
        const double lag = std::floor(taken * to / from) - double(produced);
        if (k > 100) {
            low = std::min(low, lag), high = std::max(high, lag);
        }
    }
    std::printf(
        "  %5.0f -> %5.0f Hz: response onset %+.2f ms, peak %+.2f ms, group delay at 1 kHz "
        "%+.2f ms (against its alignment); output behind the input by %.2f to %.2f ms\n",
        from, to, (double(Onset(y)) - at) * ms, (double(Peak(y)) - at) * ms,
        (GroupDelay(y, 1000, to) - at) * ms, low * ms, high * ms);
}

live::ProcessorConfig Config(double rate, double synchronization) {
    live::ProcessorConfig c;
    c.settings.synchronization = synchronization;
    c.deviceRate = rate;
    c.period = kPeriod;
    return c;
}

// Both converters at a device rate, a period of 256 at a time, and the queue they need.
void Converters(double rate) {
    std::printf("converters at %.0f Hz (period %zu):\n", rate, kPeriod);
    OneConverter(rate, kStreamRate, kPeriod);
    OneConverter(kStreamRate, rate, kPeriod * kStreamRate / rate);
    live::Processor processor(Config(rate, 1));
    std::printf(
        "  the queue both need (the most their output lags, plus 2 frames through libsamplerate): "
        "%.2f ms\n",
        processor.ConverterMilliseconds());
}

// The stream alone: the onset of its response to an impulse after its latency, which is the
// simulation's own filters.
void Filters(double synchronization) {
    cihear::Settings settings;
    settings.synchronization = synchronization;
    std::vector<double> onsets;
    for (int j = 0; j < kPlaces; j++) {
        cihear::Stream stream(settings);
        const size_t at = 2000 + j * kPlaceStep * 20000 / 48000;
        std::vector<double> x(10000, 0.0), y(x.size());
        x[at] = 0.5;
        stream.Process(x.data(), x.size(), y.data());
        const std::vector<float> y32(y.begin(), y.end());
        onsets.push_back(1000.0 * (double(Onset(y32, at)) - double(stream.Latency())) /
                         kStreamRate);
    }
    const Spread s = Of(onsets);
    std::printf(
        "synchronization %g: the simulation's filters (onset of the stream's response after its "
        "latency) %.2f / %.2f / %.2f ms (least / median / most of %d impulses)\n",
        synchronization, s.low, s.middle, s.high, kPlaces);
}

// An impulse into the device input, the onset of its response at the device output (device
// buffers not included); first at the place earlier figures used, then at kPlaces places.
void DelayAsHeard(double rate, double synchronization) {
    std::vector<double> heard;
    double reported = 0, stream = 0, filters = 0;
    for (int j = 0; j <= kPlaces; j++) {
        live::Processor processor(Config(rate, synchronization));
        const size_t calls = static_cast<size_t>(rate / kPeriod);
        const size_t at = 10 * kPeriod + 100 + (j == 0 ? 0 : (j - 1) * kPlaceStep);
        std::vector<float> in(calls * kPeriod, 0.0f), out(in.size());
        in[at] = 0.5f;
        for (size_t k = 0; k < calls; k++) {
            processor.Process(&in[k * kPeriod], &out[k * kPeriod], kPeriod);
        }
        heard.push_back(1000.0 * double(Onset(out, at)) / rate);
        reported = 1000.0 * double(processor.LatencyFrames()) / rate;
        stream = processor.StreamMilliseconds();
        filters = processor.FilterMilliseconds();
    }
    const double first = heard.front();
    const Spread s = Of(std::vector<double>(heard.begin() + 1, heard.end()));
    std::printf(
        "%.0f Hz, synchronization %g: stream latency %.2f ms; program latency %.2f ms "
        "(converters %.2f ms), with the filters as it estimates them %.2f ms; delay as heard "
        "%.2f ms (%.2f / %.2f / %.2f ms over %d impulses)\n",
        rate, synchronization, stream, reported, reported - stream, reported + filters, first,
        s.low, s.middle, s.high, kPlaces);
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
        live::Processor processor(Config(kRate, 1));
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
    for (double rate : {48000.0, 44100.0, 40000.0}) {
        Converters(rate);
    }
    Filters(1);
    Filters(0);
    for (double rate : {48000.0, 44100.0, 40000.0}) {
        DelayAsHeard(rate, 1);
        DelayAsHeard(rate, 0);
    }
    Load();
}
