// The devices through PortAudio: Debian's build reaches ALSA (and PulseAudio or PipeWire
// through ALSA's default device) and JACK, so one program runs on any Linux desktop.
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <iomanip>
#include <string>
#include <vector>

#include "live/Backend.h"
#include "live/Processor.h"

namespace live {

namespace {

const unsigned kDefaultPeriod = 256;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// PortAudio initialised for as long as the object lives.
struct Session {
    PaError error = Quietly([] { return Pa_Initialize(); });
    ~Session() {
        if (error == paNoError) {
            Pa_Terminate();
        }
    }
};

// A device by number or name (whole, or a part only one device's name has) with channels in
// the direction asked for; paNoDevice, with `error`, when there is none.
PaDeviceIndex FindDevice(const std::string& wanted, bool input, std::string& error) {
    const char* what = input ? "input" : "output";
    if (wanted.empty()) {
        const PaDeviceIndex d = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
        if (d == paNoDevice) {
            error = std::string("there is no default ") + what +
                    " device: name one (--list-devices lists them), or use --jack";
        }
        return d;
    }
    const auto channels = [&](PaDeviceIndex d) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(d);
        return input ? info->maxInputChannels : info->maxOutputChannels;
    };
    char* end = nullptr;
    const long number = std::strtol(wanted.c_str(), &end, 10);
    std::vector<PaDeviceIndex> matches;
    for (PaDeviceIndex d = 0; d < Pa_GetDeviceCount(); d++) {
        const std::string name = Pa_GetDeviceInfo(d)->name;
        if ((*end == '\0' && number == d) || name == wanted) {
            matches = {d};
            break;
        }
        if (Lower(name).find(Lower(wanted)) != std::string::npos) {
            matches.push_back(d);
        }
    }
    if (matches.size() != 1 || channels(matches[0]) < 1) {
        error = std::string(matches.size() > 1 ? "more than one " : "no ") + what +
                " device is named '" + wanted + "': --list-devices lists them";
        return paNoDevice;
    }
    return matches[0];
}

class PortAudioBackend : public Backend {
public:
    ~PortAudioBackend() override {
        Stop();
        if (stream) {
            Pa_CloseStream(stream);
        }
    }

    bool Open(const DeviceRequest& r, std::string& error) {
        if (session.error != paNoError) {
            error = std::string("the audio system cannot start: ") + Pa_GetErrorText(session.error);
            return false;
        }
        const PaDeviceIndex output = FindDevice(r.outputDevice, false, error);
        if (output == paNoDevice) {
            return false;
        }
        const PaDeviceIndex input = r.input ? FindDevice(r.inputDevice, true, error) : paNoDevice;
        if (r.input && input == paNoDevice) {
            return false;
        }
        const PaDeviceInfo* outInfo = Pa_GetDeviceInfo(output);
        rate = r.rate != 0 ? r.rate : outInfo->defaultSampleRate;
        period = r.period != 0 ? r.period : kDefaultPeriod;
        channels = std::min(2, outInfo->maxOutputChannels);
        PaStreamParameters out{output, channels, paFloat32, outInfo->defaultLowOutputLatency,
                               nullptr};
        PaStreamParameters in{input, 1, paFloat32, 0, nullptr};
        if (r.input) {
            in.suggestedLatency = Pa_GetDeviceInfo(input)->defaultLowInputLatency;
        }
        PaStreamParameters* inP = r.input ? &in : nullptr;
        if (Pa_IsFormatSupported(inP, &out, rate) != paFormatIsSupported) {
            error = "the devices refuse " + std::to_string(static_cast<long>(rate)) +
                    " Hz: try --device-rate 48000 or 44100, or other devices (--list-devices)";
            return false;
        }
        const PaError e = Quietly([&] {
            return Pa_OpenStream(&stream, inP, &out, rate, period, paClipOff, &Callback, this);
        });
        if (e != paNoError) {
            stream = nullptr;
            error = std::string("the devices refuse a period of ") + std::to_string(period) +
                    " frames at this rate (" + Pa_GetErrorText(e) + "): try another --period";
            return false;
        }
        mono.assign(period, 0.0f);
        return true;
    }

    double Rate() const override { return rate; }
    size_t Period() const override { return period; }

    bool Start(Processor& p, std::string& error) override {
        processor.store(&p);
        const PaError e = Pa_StartStream(stream);
        if (e != paNoError) {
            error = std::string("the devices do not start: ") + Pa_GetErrorText(e);
            return false;
        }
        started = true;
        return true;
    }

    void Stop() override {
        if (started) {
            Pa_StopStream(stream);
            started = false;
        }
    }

    double DeviceMilliseconds() const override {
        const PaStreamInfo* info = Pa_GetStreamInfo(stream);
        return info ? 1000.0 * (info->inputLatency + info->outputLatency) : 0;
    }
    uint64_t Xruns() const override { return xruns.load(); }
    std::string Failure() const override { return ""; }

private:
    static int Callback(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags flags, void* arg) {
        auto* self = static_cast<PortAudioBackend*>(arg);
        if (flags & (paInputUnderflow | paInputOverflow | paOutputUnderflow | paOutputOverflow)) {
            self->xruns++;
        }
        auto* out = static_cast<float*>(output);
        if (frames > self->mono.size()) {  // never with a fixed period
            std::fill(out, out + frames * self->channels, 0.0f);
            self->xruns++;
            return paContinue;
        }
        self->processor.load()->Process(static_cast<const float*>(input), self->mono.data(),
                                        frames);
        for (unsigned long i = 0; i < frames; i++) {
            for (int c = 0; c < self->channels; c++) {
                out[i * self->channels + c] = self->mono[i];
            }
        }
        return paContinue;
    }

    Session session;
    PaStream* stream = nullptr;
    double rate = 0;
    unsigned period = 0;
    int channels = 1;
    std::vector<float> mono;
    std::atomic<Processor*> processor{nullptr};
    bool started = false;
    std::atomic<uint64_t> xruns{0};
};

}  // namespace

std::unique_ptr<Backend> OpenPortAudio(const DeviceRequest& request, std::string& error) {
    auto backend = std::make_unique<PortAudioBackend>();
    if (!backend->Open(request, error)) {
        return nullptr;
    }
    return backend;
}

bool ListPortAudioDevices(std::ostream& out, std::string& error) {
    Session session;
    if (session.error != paNoError) {
        error = std::string("the audio system cannot start: ") + Pa_GetErrorText(session.error);
        return false;
    }
    const PaDeviceIndex in = Pa_GetDefaultInputDevice(), outDefault = Pa_GetDefaultOutputDevice();
    for (PaDeviceIndex d = 0; d < Pa_GetDeviceCount(); d++) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(d);
        out << std::setw(3) << d << "  " << info->name << " ("
            << Pa_GetHostApiInfo(info->hostApi)->name << "; " << info->maxInputChannels << " in, "
            << info->maxOutputChannels << " out; " << info->defaultSampleRate << " Hz)"
            << (d == in ? " [default input]" : "") << (d == outDefault ? " [default output]" : "")
            << "\n";
    }
    if (Pa_GetDeviceCount() <= 0) {
        out << "no audio devices (cihear-live --jack uses a JACK server)\n";
    }
    return true;
}

}  // namespace live
