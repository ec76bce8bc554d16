// cihear-live: the simulation of the microphone (or of a file) into the headphones, until
// Ctrl-C.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "live/Backend.h"
#include "live/LiveRun.h"
#include "live/Options.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

// Ctrl-C, kill and a closed terminal end the run cleanly; installed before any recording
// exists, so that the atomic writer leaves the signals to this handler and the files are
// finished whole.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(s, &action, nullptr);
    }
}

// The terminal without line buffering and echo while the keys are read; restored at the end.
class RawTerminal {
public:
    RawTerminal() : active(isatty(0) && tcgetattr(0, &saved) == 0) {
        if (active) {
            termios raw = saved;
            raw.c_lflag &= ~(ICANON | ECHO);
            raw.c_cc[VMIN] = 0;
            raw.c_cc[VTIME] = 0;
            tcsetattr(0, TCSANOW, &raw);
        }
    }
    ~RawTerminal() {
        if (active) {
            tcsetattr(0, TCSANOW, &saved);
        }
    }
    bool Active() const { return active; }
    // The key pressed within `ms` milliseconds, or 0.
    char Key(int ms) const {
        pollfd p{0, POLLIN, 0};
        char c = 0;
        if (active && poll(&p, 1, ms) > 0 && read(0, &c, 1) == 1) {
            return c;
        }
        if (!active) {
            usleep(ms * 1000);
        }
        return 0;
    }

private:
    termios saved{};
    bool active;
};

int Fail(const std::string& error) {
    std::cerr << "cihear-live: " << error << std::endl;
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    CatchStopSignals();
    // A JACK server is used only when one runs; none is ever started behind the user's back.
    setenv("JACK_NO_START_SERVER", "1", 1);
    live::LiveOptions options;
    std::string help, error;
    if (!live::ParseLiveOptions(argc, argv, options, help, error)) {
        return Fail(error);
    }
    if (options.help) {
        std::cout << help << std::endl;
        return 0;
    }
    if (options.listDevices) {
        return live::ListPortAudioDevices(std::cout, error) ? 0 : Fail(error);
    }
    try {
        live::LiveRun run(options);
        if (!run.Open(error)) {
            return Fail(error);
        }
        const RawTerminal terminal;
        run.SetInPlace(isatty(1));
        if (terminal.Active()) {
            std::cout << "space: simulation/original, q: quit" << std::endl;
        }
        auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (!stopRequested && run.Running(error)) {
            const char key = terminal.Key(50);
            if (key == ' ') {
                run.ToggleBypass();
            } else if (key == 'q' || key == 'Q') {
                break;
            }
            if (std::chrono::steady_clock::now() >= next) {
                run.PrintStatus(std::cout);
                next += std::chrono::seconds(1);
            }
        }
        std::string finishError;
        const bool finished = run.Finish(std::cout, finishError);
        if (!error.empty()) {
            return Fail(error);
        }
        return finished ? 0 : Fail(finishError);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
