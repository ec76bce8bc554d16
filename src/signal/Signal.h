#pragma once

#include <cstdint>
#include <memory>

// One channel of sound: double-precision samples (nominally -1..1) at a fixed sample rate.
// The length and rate never change after construction; the sample array is owned.
class Signal {
public:
    Signal(unsigned long length, unsigned long sampleRate);
    Signal(const Signal& other);
    Signal& operator=(const Signal&) = delete;
    ~Signal() = default;

    uint32_t GetLength() const { return length; }
    uint32_t GetSampleRate() const { return sampleRate; }

    // Unchecked access: callers keep index < GetLength().
    double& Get(const unsigned long& index) { return samples[index]; }
    const double& Get(const unsigned long& index) const { return samples[index]; }
    void Set(const unsigned long& index, const double& value) { samples[index] = value; }

    // The whole sample array, for loops that work on it directly.
    double* GetSamples() { return samples.get(); }
    const double* GetSamples() const { return samples.get(); }

private:
    // The sample array comes from sample_memory::Allocate and goes back through this.
    struct FreeSamples {
        void operator()(double* p) const;
    };

    std::unique_ptr<double[], FreeSamples> samples;
    uint32_t length;
    uint32_t sampleRate;
};
