#pragma once

// A JACK dummy server of the test's own (48000 Hz unless told, period 256, no real-time
// scheduling), under
// a name no other test uses, set as JACK_DEFAULT_SERVER for this process and the programs it
// starts. Killed when the object goes.

#include <jack/jack.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/RunProgram.h"

class JackServer {
public:
    explicit JackServer(int rate = 48000) : name("cihear-test-" + std::to_string(getpid())) {
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        server = std::make_unique<Program>(std::vector<std::string>{
            JACKD, "--no-realtime", "-d", "dummy", "-r", std::to_string(rate), "-p", "256"});
        // Ready once a client can join.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (server->Running() && std::chrono::steady_clock::now() < deadline) {
            jack_status_t status{};
            if (jack_client_t* c = jack_client_open("probe", JackNoStartServer, &status)) {
                jack_client_close(c);
                ready = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~JackServer() { Stop(); }
    void Stop() {
        if (server->Running()) {
            server->Signal(SIGTERM);
            server->Finish(5);
        }
    }
    bool Ready() const { return ready; }
    const std::string& Name() const { return name; }

private:
    std::string name;
    std::unique_ptr<Program> server;
    bool ready = false;
};
