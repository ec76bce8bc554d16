#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "io/FloatWave.h"
#include "live/SpscRing.h"

namespace live {

// Writes what the audio thread puts on a ring into a 32-bit float WAV file at
// cihear::kOutputRate, on a thread of its own; Finish puts the file in place whole.
class Recorder {
public:
    Recorder();
    ~Recorder();  // without Finish, nothing is put in place
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Adds a file fed by `ring` (before Start). False when the file cannot be made.
    bool Add(SpscRing<float>* ring, const std::string& name);
    void Start();
    // Once the audio has stopped: writes what is left and puts every file in place. False, with
    // `error` naming the file, when one could not be written.
    bool Finish(std::string& error);

private:
    struct Track {
        SpscRing<float>* ring;
        std::string name;
        FloatWaveWriter writer;
    };
    bool Drain();

    std::vector<std::unique_ptr<Track>> tracks;
    std::vector<float> chunk;
    std::atomic<bool> stop{false};
    std::thread thread;
};

}  // namespace live
