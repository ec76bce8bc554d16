#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class AtomicOutput;

// A mono 32-bit float WAV file (format 3, IEEE float) written as the samples arrive, through an
// AtomicOutput: under its name there is either what was there before or, after Finish, the whole
// file. For recordings whose length is not known in advance.
class FloatWaveWriter {
public:
    FloatWaveWriter();
    ~FloatWaveWriter();
    FloatWaveWriter(const FloatWaveWriter&) = delete;
    FloatWaveWriter& operator=(const FloatWaveWriter&) = delete;

    // Makes the temporary file and writes a provisional header. False when it cannot be made.
    bool Open(const std::string& name, uint32_t rate);
    // Appends count samples. False once a write has failed (the file is then never put in place).
    bool Append(const float* samples, size_t count);
    // Completes the header with the length, flushes and puts the file in place. False on failure:
    // the named file is then as it was.
    bool Finish();
    uint64_t Samples() const { return samples; }

private:
    bool WriteHeader();

    std::unique_ptr<AtomicOutput> output;
    FILE* file = nullptr;
    uint32_t rate = 0;
    uint64_t samples = 0;
    bool failed = false;
};

// The samples and rate of a mono 32-bit float WAV file as FloatWaveWriter writes it. False, with
// `why` saying what is wrong, for anything else.
bool ReadFloatWave(const std::string& name, std::vector<float>& samples, uint32_t& rate,
                   std::string& why);
