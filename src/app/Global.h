#pragma once

#include <cstdint>

// All processing runs at this rate, and the output file is written at it.
extern const uint32_t gInternalSampleRate;
// Format of the output file.
extern const int32_t gInternalBitsPerSample;
extern const int32_t gNumInternalChanels;
