// The delay through the whole program, measured with an impulse through JACK, against the
// latency the program reports to JACK's latency API.
#include <cihear/cihear.h>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <cmath>

#include "JackServer.h"
#include "io/FloatWave.h"

namespace {

const double kRate = 48000;
const size_t kPeriod = 256;

// A JACK client that plays one impulse and records what comes back.
class Probe {
public:
    Probe() : recorded(static_cast<size_t>(6 * kRate), 0.0f) {
        jack_status_t status{};
        client = jack_client_open("probe", JackNoStartServer, &status);
        if (!client) {
            return;
        }
        out = jack_port_register(client, "impulse", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        in = jack_port_register(client, "response", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client, &Probe::Process, this);
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
};

// The first sample within 20 dB of the largest (in magnitude).
size_t Onset(const std::vector<float>& x, size_t from = 0) {
    float peak = 0;
    for (size_t i = from; i < x.size(); i++) {
        peak = std::max(peak, std::fabs(x[i]));
    }
    for (size_t i = from; i < x.size(); i++) {
        if (std::fabs(x[i]) >= 0.1f * peak && peak > 0) {
            return i;
        }
    }
    return x.size();
}

class LatencyTest : public testing::TestWithParam<const char*> {};

// The delay through the program is the delay as heard (the onset of the stream's response after
// its input, plus the converters' queue) to within 1.5 ms (a noise carrier's onset moves by a
// few samples with the conversion; an error of the queue would be a period or more), and the
// latency it publishes on cihear-live:out (its converters' and stream's) is that to within one
// period. The loop probe -> cihear-live -> probe costs one period of JACK's on top, whichever runs
// first.
TEST_P(LatencyTest, ImpulseDelayIsWhatTheProgramReports) {
    if (std::string(JACKD).empty()) {
        GTEST_SKIP() << "jackd is not installed (scripts/install-deps test)";
    }
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    JackServer server;
    ASSERT_TRUE(server.Ready());
    Probe probe;
    ASSERT_TRUE(probe.Active());
    const std::string in = testing::TempDir() + "cihear_latency_in.wav",
                      out = testing::TempDir() + "cihear_latency_out.wav";
    Program program({CIHEAR_LIVE_EXE, "--jack", "--connect-in", "probe:impulse", "--connect-out",
                     "probe:response", "--record-input", in, "--record", out, "--synchronization",
                     GetParam()});
    for (int i = 0; i < 200 && !probe.Connected() && program.Running(); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(probe.Connected());
    const size_t at = probe.Now() + static_cast<size_t>(kRate / 2);
    probe.ImpulseAt(at);
    while (probe.Now() < at + kRate && program.Running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    jack_latency_range_t reported{0, 0};
    jack_port_get_latency_range(jack_port_by_name(probe.Client(), "cihear-live:out"),
                                JackCaptureLatency, &reported);
    program.Signal(SIGINT);
    const ProgramRun run = program.Finish(10);
    ASSERT_EQ(run.status, 0) << run.err;

    std::vector<float> x, y;
    uint32_t rate;
    std::string why;
    ASSERT_TRUE(ReadFloatWave(in, x, rate, why) && ReadFloatWave(out, y, rate, why)) << why;
    unlink(in.c_str());
    unlink(out.c_str());
    // At 20000 Hz: the impulse into the stream, the onset of its response out of it.
    const double heard20 = double(Onset(y)) - double(Onset(x));
    cihear::Settings settings;
    settings.synchronization = std::stod(GetParam());
    const double stream = std::lround(cihear::Stream(settings).Latency() * kRate / 20000);
    const double queue = double(reported.max) - stream;
    const double heard = queue + heard20 * kRate / 20000;
    const double measured = double(Onset(probe.Recorded(), at)) - double(at) - kPeriod;
    std::cout << "synchronization " << GetParam() << ": measured " << measured / 48 << " ms, heard "
              << heard / 48 << " ms, reported " << reported.max / 48.0 << " ms (stream "
              << stream / 48 << ", converters " << queue / 48 << ")\n";
    EXPECT_LE(std::fabs(measured - heard), 1.5 * kRate / 1000) << "heard " << heard << "\n"
                                                               << run.out;
    EXPECT_LE(std::fabs(measured - reported.max), kPeriod);
}

INSTANTIATE_TEST_SUITE_P(Live, LatencyTest, testing::Values("1", "0"));

}  // namespace
