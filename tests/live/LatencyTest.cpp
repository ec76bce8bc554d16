// The delay through the whole program, measured with an impulse through JACK, against the
// latency the program reports to JACK's latency API.
#include <cihear/cihear.h>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>

#include "JackServer.h"
#include "io/FloatWave.h"
#include "live/Converter.h"
#include "live/Onset.h"

namespace {

const size_t kPeriod = 256;
const double kLongest = 48000;  // the highest rate the tests run the server at

// A JACK client that plays one impulse and records what comes back.
class Probe {
public:
    Probe() : recorded(static_cast<size_t>(12 * kLongest), 0.0f) {
        jack_status_t status{};
        client = jack_client_open("probe", JackNoStartServer, &status);
        if (!client) {
            return;
        }
        out = jack_port_register(client, "impulse", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        in = jack_port_register(client, "response", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client, &Probe::Process, this);
        jack_set_xrun_callback(
            client,
            [](void* arg) {
                auto* self = static_cast<Probe*>(arg);
                const size_t i = self->xruns++;
                if (i < self->xrunAt.size()) {
                    self->xrunAt[i].store(self->now.load());
                }
                return 0;
            },
            this);
        // A source and a sink, not a path: its ports add nothing to the latencies, which would
        // otherwise go round the loop through cihear-live.
        jack_set_latency_callback(client, &Probe::Latency, this);
        active = out && in && jack_activate(client) == 0;
    }
    ~Probe() {
        if (client) {
            jack_client_close(client);
        }
    }
    bool Active() const { return active; }
    jack_client_t* Client() const { return client; }
    bool Connected() const { return jack_port_connected(in) > 0 && jack_port_connected(out) > 0; }
    size_t Now() const { return now.load(); }
    void ImpulseAt(size_t frame) { impulse.store(frame); }
    // Whether JACK reported a dropout from frame `from` to frame `to` (or more than it keeps).
    bool XrunBetween(size_t from, size_t to) const {
        const size_t n = xruns.load();
        for (size_t i = 0; i < std::min(n, xrunAt.size()); i++) {
            const size_t at = xrunAt[i].load();
            if (at >= from && at <= to) {
                return true;
            }
        }
        return n > xrunAt.size();
    }
    const std::vector<float>& Recorded() const { return recorded; }

private:
    static int Process(jack_nframes_t n, void* arg) {
        auto* self = static_cast<Probe*>(arg);
        auto* o = static_cast<float*>(jack_port_get_buffer(self->out, n));
        const auto* i = static_cast<const float*>(jack_port_get_buffer(self->in, n));
        const size_t t = self->now.load(), at = self->impulse.load();
        for (jack_nframes_t k = 0; k < n; k++) {
            o[k] = t + k == at ? 0.5f : 0.0f;
            if (t + k < self->recorded.size()) {
                self->recorded[t + k] = i[k];
            }
        }
        self->now.store(t + n);
        return 0;
    }

    static void Latency(jack_latency_callback_mode_t mode, void* arg) {
        auto* self = static_cast<Probe*>(arg);
        jack_latency_range_t none{0, 0};
        jack_port_set_latency_range(mode == JackCaptureLatency ? self->out : self->in, mode, &none);
    }

    jack_client_t* client = nullptr;
    jack_port_t* out = nullptr;
    jack_port_t* in = nullptr;
    bool active = false;
    std::vector<float> recorded;
    std::atomic<size_t> now{0};
    std::atomic<size_t> impulse{~size_t(0)};
    std::atomic<size_t> xruns{0};
    std::array<std::atomic<size_t>, 1024> xrunAt{};  // the frame at each dropout
};

// Samples at 20000 Hz converted to the device's rate as the program converts them (aligned).
std::vector<float> ToDevice(const std::vector<float>& x, double rate) {
    live::Converter up(20000, rate);
    std::vector<float> y(3 * x.size() + 1024);
    y.resize(up.Process(x.data(), x.size(), y.data(), y.size()));
    return y;
}

// The largest sample of the last impulse in x (all impulses are alike).
size_t LastImpulse(const std::vector<float>& x) {
    float peak = 0;
    for (float v : x) {
        peak = std::max(peak, std::fabs(v));
    }
    size_t last = x.size();
    while (last > 0 && std::fabs(x[last - 1]) < 0.5f * peak) {
        last--;
    }
    size_t best = last > 0 ? last - 1 : 0;
    for (size_t i = best >= 200 ? best - 200 : 0; i < std::min(x.size(), best + 200); i++) {
        best = std::fabs(x[i]) > std::fabs(x[best]) ? i : best;
    }
    return best;
}

// The server's rate, the synchronization.
class LatencyTest : public testing::TestWithParam<std::tuple<int, const char*>> {};

// The delay through the program (an impulse from a probe client through cihear-live and back,
// less the one period the loop costs in JACK, whichever client runs first) is the delay as heard
// from its own recordings (the onset of the stream's response after the impulse, both converted
// to the device's rate as the program converts them, plus its converters' queue: the least latency
// it publishes, less the stream's) to within 1 ms: an error of the queue or a buffer too many would
// be a period or more. The most it publishes on cihear-live:out (stream, converters and the
// simulation's filters) is the measured delay to within one period. An impulse during which JACK
// reported a dropout (which can delay everything after it by a period on a busy machine) is
// measured again.
TEST_P(LatencyTest, ImpulseDelayIsWhatTheProgramReports) {
    if (std::string(JACKD).empty()) {
        GTEST_SKIP() << "jackd is not installed (scripts/install-deps test)";
    }
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    const int rate = std::get<0>(GetParam());
    const char* synchronization = std::get<1>(GetParam());
    const double deviceRate = rate, ms = deviceRate / 1000;
    JackServer server(rate);
    ASSERT_TRUE(server.Ready());
    Probe probe;
    ASSERT_TRUE(probe.Active());
    const std::string in = testing::TempDir() + "cihear_latency_in.wav",
                      out = testing::TempDir() + "cihear_latency_out.wav";
    Program program({CIHEAR_LIVE_EXE, "--jack", "--connect-in", "probe:impulse", "--connect-out",
                     "probe:response", "--record-input", in, "--record", out, "--synchronization",
                     synchronization});
    for (int i = 0; i < 200 && !probe.Connected() && program.Running(); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(probe.Connected());
    size_t at = 0;
    bool clean = false;
    int attempts = 0;
    for (; attempts < 3 && !clean && program.Running(); attempts++) {
        at = probe.Now() + static_cast<size_t>(deviceRate / 2);
        probe.ImpulseAt(at);
        while (probe.Now() < at + deviceRate && program.Running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // From the period before the impulse to well after the response's onset.
        clean = !probe.XrunBetween(at - 2 * kPeriod, at + static_cast<size_t>(deviceRate / 10));
    }
    jack_latency_range_t reported{0, 0};
    jack_port_get_latency_range(jack_port_by_name(probe.Client(), "cihear-live:out"),
                                JackCaptureLatency, &reported);
    program.Signal(SIGINT);
    const ProgramRun run = program.Finish(10);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_LT(at + deviceRate, probe.Recorded().size());

    std::vector<float> x, y;
    uint32_t fileRate;
    std::string why;
    ASSERT_TRUE(ReadFloatWave(in, x, fileRate, why) && ReadFloatWave(out, y, fileRate, why)) << why;
    unlink(in.c_str());
    unlink(out.c_str());
    if (!clean) {
        GTEST_SKIP() << "JACK reported a dropout near each of 3 impulses: the machine is too busy";
    }
    const std::vector<float> xd = ToDevice(x, deviceRate), yd = ToDevice(y, deviceRate);
    const size_t impulse = LastImpulse(xd);
    cihear::Settings settings;
    settings.synchronization = std::stod(synchronization);
    const double stream = std::lround(cihear::Stream(settings).Latency() * deviceRate / 20000);
    const double queue = double(reported.min) - stream;
    const double heard = queue + double(live::Onset(yd, impulse)) - double(impulse);
    const double measured = double(live::Onset(probe.Recorded(), at)) - double(at) - kPeriod;
    std::cout << rate << " Hz, synchronization " << synchronization << ": measured "
              << measured / ms << " ms, heard " << heard / ms << " ms, reported "
              << reported.max / ms << " ms (stream " << stream / ms << ", converters " << queue / ms
              << ", filters " << (double(reported.max) - reported.min) / ms << "; impulses sent "
              << attempts << ")\n";
    EXPECT_LE(std::fabs(measured - heard), deviceRate / 1000) << run.out;
    EXPECT_LE(std::fabs(measured - double(reported.max)), kPeriod);
}

// At 48000 Hz through libsamplerate, at 40000 Hz through the whole-factor filter alone.
INSTANTIATE_TEST_SUITE_P(Live, LatencyTest,
                         testing::Combine(testing::Values(48000, 40000),
                                          testing::Values("1", "0")));

}  // namespace
