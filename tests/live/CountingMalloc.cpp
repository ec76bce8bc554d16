#include "CountingMalloc.h"

#if defined(__SANITIZE_ADDRESS__)

uint64_t MallocCount() {
    return 0;
}
bool MallocCounted() {
    return false;
}

#else

#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

// A plain integer with atomic built-ins: the allocator runs before any constructor could.
uint64_t count = 0;

void Count() {
    __atomic_fetch_add(&count, 1, __ATOMIC_RELAXED);
}

}  // namespace

uint64_t MallocCount() {
    return __atomic_load_n(&count, __ATOMIC_RELAXED);
}
bool MallocCounted() {
    return true;
}

extern "C" {

void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}

void* calloc(size_t n, size_t size) {
    Count();
    return __libc_calloc(n, size);
}

void* realloc(void* p, size_t size) {
    Count();
    return __libc_realloc(p, size);
}

void free(void* p) {
    __libc_free(p);
}

void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    Count();
    void* p = __libc_memalign(alignment, size);
    if (!p) {
        return ENOMEM;
    }
    *out = p;
    return 0;
}

}  // extern "C"

#endif  // __SANITIZE_ADDRESS__
