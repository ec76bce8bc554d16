#include "app/Global.h"

const uint32_t gInternalSampleRate = 20000;
const int32_t gInternalBitsPerSample = 16;
const int32_t gNumInternalChanels = 1;
