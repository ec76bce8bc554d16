#pragma once

#include <cstdint>

// How many times operator new has been called in this test program so far (every form; the
// program's operator new counts, CountingAllocator.cpp).
uint64_t AllocationCount();
