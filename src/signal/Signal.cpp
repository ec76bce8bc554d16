#include "signal/Signal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#include "signal/SampleMemory.h"

void Signal::FreeSamples::operator()(double* p) const {
    sample_memory::Free(p);
}

Signal::Signal(unsigned long length, unsigned long sampleRate)
    : length(static_cast<uint32_t>(length)), sampleRate(static_cast<uint32_t>(sampleRate)) {
    samples.reset(sample_memory::Allocate(this->length));
    std::fill(samples.get(), samples.get() + this->length, 0.0);
}

Signal::Signal(const Signal& other)
    : samples(sample_memory::Allocate(other.length)),
      length(other.length),
      sampleRate(other.sampleRate) {
    std::copy(other.samples.get(), other.samples.get() + length, samples.get());
}

double Signal::GetMax() const {
    double m = samples[0];
    for (uint32_t i = 1; i < length; i++) {
        if (samples[i] > m) {
            m = samples[i];
        }
    }
    return m;
}

double Signal::GetMin() const {
    double m = samples[0];
    for (uint32_t i = 1; i < length; i++) {
        if (samples[i] < m) {
            m = samples[i];
        }
    }
    return m;
}

double Signal::Avg() const {
    double sum = 0.0;
    for (uint32_t i = 0; i < length; i++) {
        sum += samples[i];
    }
    return sum / static_cast<double>(length);
}

double Signal::StdDev() const {
    const double m = Avg();
    double s = 0.0;
    for (uint32_t i = 0; i < length; i++) {
        const double d = samples[i] - m;
        s += d * d;
    }
    return std::sqrt(s * (1.0 / static_cast<double>(length)));
}

double Signal::TotalEnergy() const {
    double sum = 0.0;
    for (uint32_t i = 0; i < length; i++) {
        sum += samples[i] * samples[i];
    }
    return sum;
}

double Signal::AvgPower() const {
    return TotalEnergy() / static_cast<double>(length);
}
