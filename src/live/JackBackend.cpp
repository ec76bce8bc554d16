// The JACK client: one input port (none when a file plays), one output port, the program's
// latency published on them, connected to the system's ports or to the named ones.
#include <jack/jack.h>

#include <atomic>
#include <cstring>

#include "live/Backend.h"
#include "live/Processor.h"

namespace live {

namespace {

void Silent(const char*) {}

class JackBackend : public Backend {
public:
    ~JackBackend() override {
        if (client) {
            jack_client_close(client);
        }
    }

    bool Open(const DeviceRequest& r, std::string& error) {
        request = r;
        jack_set_error_function(Silent);
        jack_set_info_function(Silent);
        jack_status_t status{};
        client =
            Quietly([&] { return jack_client_open("cihear-live", JackNoStartServer, &status); });
        if (!client) {
            error =
                "no JACK server is running: start one (e.g. jackd -d alsa, or qjackctl) or "
                "leave out --jack to use the default devices";
            return false;
        }
        period = jack_get_buffer_size(client);
        rate = jack_get_sample_rate(client);
        if (r.period != 0 && r.period != period) {
            error = "the JACK server runs with a period of " + std::to_string(period) +
                    " frames, not " + std::to_string(r.period) +
                    ": leave out --period or restart it with -p " + std::to_string(r.period);
            return false;
        }
        if (r.input) {
            in = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        }
        out = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!out || (r.input && !in)) {
            error = "the JACK server refused the ports of cihear-live";
            return false;
        }
        jack_set_process_callback(client, &JackBackend::ProcessCallback, this);
        jack_set_latency_callback(client, &JackBackend::LatencyCallback, this);
        jack_set_xrun_callback(client, &JackBackend::XrunCallback, this);
        jack_on_shutdown(client, &JackBackend::ShutdownCallback, this);
        jack_set_buffer_size_callback(client, &JackBackend::PeriodCallback, this);
        jack_set_sample_rate_callback(client, &JackBackend::RateCallback, this);
        return CheckPorts(error);
    }

    double Rate() const override { return rate; }
    size_t Period() const override { return period; }

    bool Start(Processor& p, std::string& error) override {
        own = {static_cast<jack_nframes_t>(p.LatencyFrames()),
               static_cast<jack_nframes_t>(p.HeardFrames())};
        processor.store(&p);
        if (jack_activate(client) != 0) {
            error = "the JACK server did not start cihear-live's callbacks";
            return false;
        }
        active = true;
        if (!Connect(error)) {
            return false;
        }
        jack_recompute_total_latencies(client);
        return true;
    }

    void Stop() override {
        if (active) {
            jack_deactivate(client);
            active = false;
        }
    }

    double DeviceMilliseconds() const override {
        jack_latency_range_t capture{0, 0}, playback{0, 0};
        if (in) {
            jack_port_get_latency_range(in, JackCaptureLatency, &capture);
        }
        jack_port_get_latency_range(out, JackPlaybackLatency, &playback);
        return 1000.0 * (capture.max + playback.max) / Rate();
    }
    uint64_t Xruns() const override { return xruns.load(); }
    std::string Failure() const override {
        if (shutDown.load()) {
            return "the JACK server stopped: start it again, then cihear-live";
        }
        return changed.load() ? "the JACK server changed its rate or period: start cihear-live "
                                "again"
                              : "";
    }

private:
    // The named ports must exist (a missing one is the usual reason for silence).
    bool CheckPorts(std::string& error) {
        for (const auto* names : {&request.connectIn, &request.connectOut}) {
            for (const std::string& name : *names) {
                if (!jack_port_by_name(client, name.c_str())) {
                    error = "there is no JACK port '" + name + "' (jack_lsp lists the ports)";
                    return false;
                }
            }
        }
        return true;
    }

    // The physical ports of one direction, at most `count`.
    std::vector<std::string> Physical(unsigned long flags, size_t count) {
        std::vector<std::string> names;
        const char** ports =
            jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | flags);
        for (size_t i = 0; ports && ports[i] && names.size() < count; i++) {
            names.push_back(ports[i]);
        }
        jack_free(ports);
        return names;
    }

    bool Connect(std::string& error) {
        std::vector<std::string> from = request.connectIn, to = request.connectOut;
        if (from.empty() && in) {
            from = Physical(JackPortIsOutput, 1);
        }
        if (to.empty()) {
            to = Physical(JackPortIsInput, 2);
        }
        for (const std::string& name : in ? from : std::vector<std::string>()) {
            if (jack_connect(client, name.c_str(), jack_port_name(in)) != 0) {
                error = "cannot connect JACK port '" + name + "' to cihear-live:in";
                return false;
            }
        }
        for (const std::string& name : to) {
            if (jack_connect(client, jack_port_name(out), name.c_str()) != 0) {
                error = "cannot connect cihear-live:out to JACK port '" + name + "'";
                return false;
            }
        }
        return true;
    }

    static int ProcessCallback(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackBackend*>(arg);
        auto* out = static_cast<float*>(jack_port_get_buffer(self->out, frames));
        const float* in =
            self->in ? static_cast<const float*>(jack_port_get_buffer(self->in, frames)) : nullptr;
        Processor* p = self->processor.load(std::memory_order_acquire);
        if (p) {
            p->Process(in, out, frames);
        } else {
            memset(out, 0, frames * sizeof(float));
        }
        return 0;
    }

    // The program's delay added to what comes before it (capture) and after it (playback), so
    // that other JACK clients see the whole path's latency: from LatencyFrames() (the original)
    // to HeardFrames() (the onset of the simulation's response).
    static void LatencyCallback(jack_latency_callback_mode_t mode, void* arg) {
        auto* self = static_cast<JackBackend*>(arg);
        jack_latency_range_t range{0, 0};
        jack_port_t* from = mode == JackCaptureLatency ? self->in : self->out;
        jack_port_t* to = mode == JackCaptureLatency ? self->out : self->in;
        if (from) {
            jack_port_get_latency_range(from, mode, &range);
        }
        range.min += self->own.min;
        range.max += self->own.max;
        if (to) {
            jack_port_set_latency_range(to, mode, &range);
        }
    }

    static int XrunCallback(void* arg) {
        static_cast<JackBackend*>(arg)->xruns++;
        return 0;
    }
    static void ShutdownCallback(void* arg) { static_cast<JackBackend*>(arg)->shutDown = true; }
    // The converters' queue is made for one rate and period: another ends the run.
    static int PeriodCallback(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackBackend*>(arg);
        self->changed = self->changed || frames != self->period;
        return 0;
    }
    static int RateCallback(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackBackend*>(arg);
        self->changed = self->changed || frames != self->rate;
        return 0;
    }

    DeviceRequest request;
    jack_client_t* client = nullptr;
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
    std::atomic<Processor*> processor{nullptr};
    // The program's own delay: the original's (--mix, --bypass) at least, the simulation's
    // response (its filters too) at most.
    jack_latency_range_t own{0, 0};
    bool active = false;
    std::atomic<uint64_t> xruns{0};
    std::atomic<bool> shutDown{false};
    std::atomic<bool> changed{false};
    jack_nframes_t period = 0, rate = 0;
};

}  // namespace

std::unique_ptr<Backend> OpenJack(const DeviceRequest& request, std::string& error) {
    auto backend = std::make_unique<JackBackend>();
    if (!backend->Open(request, error)) {
        return nullptr;
    }
    return backend;
}

}  // namespace live
