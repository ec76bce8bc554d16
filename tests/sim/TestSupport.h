#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
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
