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
