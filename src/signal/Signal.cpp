#include "signal/Signal.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

const size_t hugePage = size_t{2} << 20;

// Room for length samples, not initialised. A minute of sound takes megabytes per signal, and
// on some virtual machines the first touch of each fresh 4 KiB page costs as much as computing
// its samples; an array of half a huge page or more is therefore aligned and sized to whole
// 2 MiB pages (so at most half of it is slack) and offered to the kernel as transparent huge
// pages, 512 times fewer first touches.
double* AllocateSamples(uint32_t length) {
    size_t bytes = std::max<size_t>(size_t{length} * sizeof(double), 1);
    void* p = nullptr;
    if (bytes >= hugePage / 2) {
        bytes = (bytes + hugePage - 1) / hugePage * hugePage;
        if (posix_memalign(&p, hugePage, bytes) != 0) {
            throw std::bad_alloc();
        }
#ifdef MADV_HUGEPAGE
        madvise(p, bytes, MADV_HUGEPAGE);  // only advice: without it the pages are just small
#endif
    } else {
        p = std::malloc(bytes);
        if (p == nullptr) {
            throw std::bad_alloc();
        }
    }
    return static_cast<double*>(p);
}

}  // namespace

void Signal::FreeSamples::operator()(double* p) const {
    std::free(p);
}

Signal::Signal(unsigned long length, unsigned long sampleRate)
    : length(static_cast<uint32_t>(length)), sampleRate(static_cast<uint32_t>(sampleRate)) {
    samples.reset(AllocateSamples(this->length));
    std::fill(samples.get(), samples.get() + this->length, 0.0);
}

Signal::Signal(const Signal& other)
    : samples(AllocateSamples(other.length)), length(other.length), sampleRate(other.sampleRate) {
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
