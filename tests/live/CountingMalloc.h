#pragma once

#include <cstdint>

// How many blocks the C allocator has handed out in this test program so far: malloc, calloc,
// realloc and the aligned forms, which operator new and the C libraries (libsamplerate, libjack) use
// alike (CountingMalloc.cpp replaces them with counting forwarders to glibc's own).
uint64_t MallocCount();
// Whether the count is kept: not under AddressSanitizer, which owns the allocator itself.
bool MallocCounted();
