#include "signal/SampleMemory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace sample_memory {

namespace {

const size_t hugePage = size_t{2} << 20;

}  // namespace

double* Allocate(size_t count) {
    if (count > (SIZE_MAX - hugePage) / sizeof(double)) {
        throw std::bad_alloc();
    }
    size_t bytes = std::max<size_t>(count * sizeof(double), 1);
    void* p = nullptr;
    if (bytes >= hugePage / 2) {
        bytes = (bytes + hugePage - 1) / hugePage * hugePage;
        if (posix_memalign(&p, hugePage, bytes) != 0) {
            throw std::bad_alloc();
        }
        AdviseHugePages(p, bytes);
    } else {
        p = std::malloc(bytes);
        if (p == nullptr) {
            throw std::bad_alloc();
        }
    }
    return static_cast<double*>(p);
}

void Free(double* p) {
    std::free(p);
}

void AdviseHugePages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + page - 1) / page * page;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) / page * page;
    if (bytes >= hugePage && end > begin) {
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#else
    (void)p;
    (void)bytes;
#endif
}

void Populate(void* p, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + page - 1) / page * page;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) / page * page;
    if (end > begin) {
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
    }
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace sample_memory
