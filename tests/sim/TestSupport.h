#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "params/Parameters.h"
#include "signal/Signal.h"
#include "signal/SignalVector.h"

// Shared helpers of the simulation tests.

constexpr unsigned long kRate = 20000;

// Default parameters with the given inserted channels and channels on per cycle.
inline std::unique_ptr<Parameters> ChannelParams(unsigned inserted, unsigned on) {
    std::unique_ptr<Parameters> p(new Parameters());
    p->n_inserted_ch->SetValue(inserted);
    p->n_on->SetValue(on);
    return p;
}

inline std::vector<double> Samples(const Signal& s) {
    return std::vector<double>(s.GetSamples(), s.GetSamples() + s.GetLength());
}

inline Signal* MakeSignal(const std::vector<double>& v, unsigned long rate = kRate) {
    Signal* s = new Signal(v.size(), rate);
    for (size_t i = 0; i < v.size(); i++) {
        s->Set(i, v[i]);
    }
    return s;
}

inline SignalVector* MakeVector(const std::vector<std::vector<double>>& channels,
                                unsigned long rate = kRate) {
    SignalVector* v = new SignalVector(channels.size());
    for (size_t i = 0; i < channels.size(); i++) {
        v->SetSignal(i, MakeSignal(channels[i], rate));
    }
    return v;
}

// A test tone mixture with a slow amplitude modulation, so that every band has an envelope
// with peaks.
inline std::vector<double> SpeechLike(size_t length) {
    std::vector<double> v(length);
    const double pi = 3.141592653589793;
    for (size_t i = 0; i < length; i++) {
        const double t = static_cast<double>(i) / kRate;
        const double am = 0.6 + 0.4 * std::sin(2 * pi * 4.0 * t);
        v[i] = am * (0.3 * std::sin(2 * pi * 440.0 * t) + 0.2 * std::sin(2 * pi * 1250.0 * t) +
                     0.15 * std::sin(2 * pi * 3100.0 * t) + 0.1 * std::sin(2 * pi * 6300.0 * t));
    }
    return v;
}

// Runs compute in a forked child and returns what it produced. Each child starts from the
// parent's state of the process-wide random generator, so two children see the same draws.
inline std::vector<double> InChild(const std::function<std::vector<double>()>& compute) {
    int fd[2];
    if (pipe(fd) != 0) {
        std::abort();
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        const std::vector<double> result = compute();
        const uint64_t count = result.size();
        bool ok = write(fd[1], &count, sizeof count) == static_cast<ssize_t>(sizeof count);
        const char* p = reinterpret_cast<const char*>(result.data());
        size_t left = count * sizeof(double);
        while (ok && left > 0) {
            const ssize_t w = write(fd[1], p, left);
            ok = w > 0;
            if (ok) {
                p += w;
                left -= static_cast<size_t>(w);
            }
        }
        close(fd[1]);
        _exit(ok ? 0 : 1);
    }
    close(fd[1]);
    std::vector<double> result;
    uint64_t count = 0;
    if (read(fd[0], &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
        result.resize(count);
        char* p = reinterpret_cast<char*>(result.data());
        size_t left = count * sizeof(double);
        while (left > 0) {
            const ssize_t r = read(fd[0], p, left);
            if (r <= 0) {
                break;
            }
            p += r;
            left -= static_cast<size_t>(r);
        }
        if (left > 0) {
            result.clear();
        }
    }
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.assign(1, std::nan(""));  // a crashed child never matches
    }
    return result;
}

// Sample-for-sample equality (a NaN never equals anything, so a NaN result never passes).
inline bool SameSamples(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); i++) {
        if (!(a[i] == b[i])) {
            return false;
        }
    }
    return true;
}
