#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "live/Quietly.h"

namespace live {

class Processor;

// What the devices are asked for.
struct DeviceRequest {
    bool input = true;  // false when a file plays instead of the microphone
    std::string inputDevice, outputDevice;
    std::vector<std::string> connectIn, connectOut;  // JACK ports
    unsigned period = 0;
    double rate = 0;
};

// An opened audio device (or JACK client) that calls Processor::Process once per period.
class Backend {
public:
    virtual ~Backend() = default;
    virtual double Rate() const = 0;
    virtual size_t Period() const = 0;
    // Begins the callbacks (and, for JACK, connects the ports). False with `error` on failure.
    virtual bool Start(Processor& processor, std::string& error) = 0;
    virtual void Stop() = 0;
    // The devices' own latency as the audio library reports it, input and output, in ms.
    virtual double DeviceMilliseconds() const = 0;
    virtual uint64_t Xruns() const = 0;
    // Why the audio stopped by itself (the JACK server went away), or "".
    virtual std::string Failure() const = 0;
};

// Each returns null with `error` (one line: what and what to try) when it cannot open.
std::unique_ptr<Backend> OpenPortAudio(const DeviceRequest& request, std::string& error);
std::unique_ptr<Backend> OpenJack(const DeviceRequest& request, std::string& error);
bool ListPortAudioDevices(std::ostream& out, std::string& error);

}  // namespace live
