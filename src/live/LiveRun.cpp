#include "live/LiveRun.h"

#include <cihear/cihear.h>

#include <iomanip>
#include <iostream>
#include <sstream>

#include "app/cli.h"
#include "engine/Engine.h"
#include "signal/Signal.h"

namespace live {

LiveRun::LiveRun(const LiveOptions& o) : options(o) {}

LiveRun::~LiveRun() {
    if (backend) {
        backend->Stop();
    }
}

// The file at kOutputRate, converted as the command line converts its input, and rounded to
// float: the stream then takes exactly the samples its recording holds.
bool LiveRun::LoadPlay(std::string& error) {
    OpenedInput input;
    if (!input.wave.OpenRead(options.play.c_str())) {
        error = "cannot open " + options.play + ": give a 16-bit PCM WAV file";
        return false;
    }
    const std::string why = engine::Unloadable(input.wave);
    std::unique_ptr<Signal> signal;
    if (why.empty()) {
        signal = Quietly([&] { return LoadInput(input); });
    }
    if (!signal) {
        error = "cannot play " + options.play + ": " +
                (why.empty() ? std::string("could not read samples from file") : why);
        return false;
    }
    play.assign(signal->GetSamples(), signal->GetSamples() + signal->GetLength());
    return true;
}

bool LiveRun::StartRecording(std::string& error) {
    if (options.recordInput.empty() && options.record.empty()) {
        return true;
    }
    recorder = std::make_unique<Recorder>();
    for (const auto& [ring, name] :
         {std::make_pair(processor->InputRecording(), options.recordInput),
          std::make_pair(processor->OutputRecording(), options.record)}) {
        if (ring && !recorder->Add(ring, name)) {
            error = "cannot write " + name + ": choose a file in a directory you can write to";
            return false;
        }
    }
    recorder->Start();
    return true;
}

bool LiveRun::Open(std::string& error) {
    const cihear::Applied applied = cihear::ApplyStrict(options.simulation);
    if (!applied.ok()) {
        error = applied.errors[0].text;
        return false;
    }
    for (const cihear::Message& warning : applied.warnings) {
        std::cerr << "cihear-live: warning: " << warning.text << std::endl;
    }
    if (!options.play.empty() && !LoadPlay(error)) {
        return false;
    }
    DeviceRequest request;
    request.input = options.play.empty();
    request.inputDevice = options.inputDevice;
    request.outputDevice = options.outputDevice;
    request.connectIn = options.connectIn;
    request.connectOut = options.connectOut;
    request.period = options.period;
    request.rate = options.deviceRate;
    backend = options.jack ? OpenJack(request, error) : OpenPortAudio(request, error);
    if (!backend) {
        return false;
    }
    config.settings = applied.settings;
    config.deviceRate = backend->Rate();
    config.period = backend->Period();
    config.play = options.play.empty() ? nullptr : &play;
    config.loop = options.loop;
    config.mix = options.mix;
    config.bypass = options.bypass;
    config.recordInput = !options.recordInput.empty();
    config.recordOutput = !options.record.empty();
    processor = std::make_unique<Processor>(config);
    if (!StartRecording(error) || !backend->Start(*processor, error)) {
        return false;
    }
    lastTime = std::chrono::steady_clock::now();
    return true;
}

bool LiveRun::Running(std::string& error) const {
    error = backend->Failure();
    return error.empty() && !processor->Finished();
}

void LiveRun::ToggleBypass() {
    processor->SetBypass(!processor->Bypass());
}

void LiveRun::PrintStatus(std::ostream& out) {
    ProcessorCounters& c = processor->Counters();
    const auto now = std::chrono::steady_clock::now();
    const uint64_t busy = c.busyNanoseconds.load();
    const double wall = std::chrono::duration<double, std::nano>(now - lastTime).count();
    const double load = wall > 0 ? 100.0 * double(busy - lastBusy) / wall : 0;
    const double periodNs = 1e9 * double(config.period) / config.deviceRate;
    const double peak = 100.0 * double(c.peakNanoseconds.exchange(0)) / periodNs;
    lastBusy = busy;
    lastTime = now;
    const double stream = processor->StreamMilliseconds();
    const double converters = processor->ConverterMilliseconds();
    const double filters = processor->FilterMilliseconds();
    const double device = backend->DeviceMilliseconds();
    std::ostringstream line;
    line << std::fixed << std::setprecision(1) << "latency "
         << stream + converters + filters + device << " ms (stream " << stream << ", converters "
         << converters << ", filters " << filters << ", device " << device << ") | load " << load
         << " % (peak " << peak << " %) | xruns " << backend->Xruns() << " reported, "
         << c.underflows.load() << " own | clipped " << c.clipped.load() << " | "
         << (processor->Bypass() ? "original" : "simulation");
    if (inPlace) {
        out << "\r" << line.str() << "\x1b[K" << std::flush;
    } else {
        out << line.str() << std::endl;
    }
}

bool LiveRun::Finish(std::ostream& out, std::string& error) {
    backend->Stop();
    PrintStatus(out);
    if (inPlace) {
        out << std::endl;
    }
    if (recorder && !recorder->Finish(error)) {
        return false;
    }
    const uint64_t lost = processor->Counters().lost.load();
    if (lost > 0) {
        error = "the recording lost " + std::to_string(lost) +
                " samples (the disk was too slow): record to a faster disk";
        return false;
    }
    return true;
}

}  // namespace live
