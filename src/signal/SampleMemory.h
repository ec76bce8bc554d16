#pragma once

#include <cstddef>
#include <memory>

// Sample arrays of a minute of sound or more. On some virtual machines the first touch of each
// fresh 4 KiB page costs as much as computing its samples; large arrays are therefore offered to
// the kernel as transparent huge pages, 512 times fewer first touches.
namespace sample_memory {

// Room for count doubles, not initialised; throws std::bad_alloc. An array of half a huge page
// or more is aligned and sized to whole 2 MiB pages (so at most half of it is slack).
double* Allocate(size_t count);
void Free(double* p);

struct Deleter {
    void operator()(double* p) const { Free(p); }
};
using Buffer = std::unique_ptr<double[], Deleter>;

inline Buffer MakeBuffer(size_t count) {
    return Buffer(Allocate(count));
}

// Asks for huge pages over the whole 4 KiB pages of [p, p + bytes), memory allocated elsewhere
// but not yet touched (a std::vector's reserved storage). Only advice: without it the pages are
// just small.
void AdviseHugePages(void* p, size_t bytes);

// Has the kernel provide the whole 4 KiB pages of [p, p + bytes) now, ready to be written, where
// it can (Linux 5.14 and later); several threads can share a large array's first touch this way.
// Best effort: otherwise the pages come on first touch, as always.
void Populate(void* p, size_t bytes);

}  // namespace sample_memory
