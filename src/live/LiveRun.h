#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "live/Backend.h"
#include "live/Options.h"
#include "live/Processor.h"
#include "live/Recorder.h"

namespace live {

// One run of cihear-live: the settings checked, the file loaded, the devices opened, the audio
// and the recordings going, the status reported.
class LiveRun {
public:
    explicit LiveRun(const LiveOptions& options);
    ~LiveRun();

    // Everything up to sound coming out. False with `error` (one line) when something refuses.
    bool Open(std::string& error);
    // Whether the audio goes on: false once a file has played out, or with `error` when the
    // audio stopped by itself.
    bool Running(std::string& error) const;
    void ToggleBypass();
    void SetInPlace(bool inPlace) { this->inPlace = inPlace; }
    // The status line: latency, callback load, dropouts, clipped samples.
    void PrintStatus(std::ostream& out);
    // Stops the audio and puts the recordings in place. False with `error` when a recording
    // could not be written or lost samples.
    bool Finish(std::ostream& out, std::string& error);

private:
    bool LoadPlay(std::string& error);
    bool StartRecording(std::string& error);

    LiveOptions options;
    ProcessorConfig config;
    std::vector<float> play;
    std::unique_ptr<Backend> backend;
    std::unique_ptr<Processor> processor;
    std::unique_ptr<Recorder> recorder;
    bool inPlace = false;
    bool finished = false;
    uint64_t lastBusy = 0;
    std::chrono::steady_clock::time_point lastTime;
};

}  // namespace live
