#pragma once

#include <cstddef>
#include <cstdint>

enum class WaveWriteResult {
    Written,
    CouldNotOpen,   // the file (or its temporary) could not be made or opened
    CouldNotWrite,  // it could not be written in full, flushed or put in place
};

// Writes n 16-bit samples as a mono PCM WAV file at `rate`, through an AtomicOutput: the file
// of that name ends up either as it was or holding the whole new file. The bytes are those the
// program writes for the same samples (the program's own output goes through here at 20000 Hz),
// so every front end gives the same file.
WaveWriteResult WriteMonoWave16(const char* name, const int16_t* samples, size_t n, uint32_t rate);
