#include "live/Recorder.h"

#include <cihear/cihear.h>

#include <chrono>

namespace live {

Recorder::Recorder() : chunk(8192) {}

Recorder::~Recorder() {
    stop = true;
    if (thread.joinable()) {
        thread.join();
    }
}

bool Recorder::Add(SpscRing<float>* ring, const std::string& name) {
    auto track = std::make_unique<Track>();
    track->ring = ring;
    track->name = name;
    if (!track->writer.Open(name, cihear::kOutputRate)) {
        return false;
    }
    tracks.push_back(std::move(track));
    return true;
}

void Recorder::Start() {
    thread = std::thread([this] {
        while (!stop.load()) {
            Drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
}

// Moves everything the rings hold into the files; false once a write has failed.
bool Recorder::Drain() {
    bool ok = true;
    for (auto& track : tracks) {
        for (size_t n; (n = track->ring->Pop(chunk.data(), chunk.size())) > 0;) {
            ok = track->writer.Append(chunk.data(), n) && ok;
        }
    }
    return ok;
}

bool Recorder::Finish(std::string& error) {
    stop = true;
    if (thread.joinable()) {
        thread.join();
    }
    bool ok = Drain();
    for (auto& track : tracks) {
        if (!track->writer.Finish()) {
            ok = false;
            if (error.empty()) {
                error = "cannot write " + track->name;
            }
        }
    }
    if (!ok && error.empty()) {
        error = "cannot write the recording";
    }
    return ok;
}

}  // namespace live
