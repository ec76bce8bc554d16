#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace live {

// A ring of samples between one producing thread (the audio callback) and one consuming thread
// (a writer): lock-free and allocation-free after construction. Push and Pop each belong to one
// thread.
template <class T>
class SpscRing {
public:
    explicit SpscRing(size_t capacity) : buffer(capacity + 1) {}

    // Appends as many of the count values as fit; returns how many.
    size_t Push(const T* values, size_t count) {
        const size_t w = write.load(std::memory_order_relaxed);
        const size_t r = read.load(std::memory_order_acquire);
        const size_t free = (r + buffer.size() - w - 1) % buffer.size();
        const size_t n = count < free ? count : free;
        for (size_t i = 0; i < n; i++) {
            buffer[(w + i) % buffer.size()] = values[i];
        }
        write.store((w + n) % buffer.size(), std::memory_order_release);
        return n;
    }

    // Takes up to max values; returns how many.
    size_t Pop(T* values, size_t max) {
        const size_t r = read.load(std::memory_order_relaxed);
        const size_t w = write.load(std::memory_order_acquire);
        const size_t held = (w + buffer.size() - r) % buffer.size();
        const size_t n = max < held ? max : held;
        for (size_t i = 0; i < n; i++) {
            values[i] = buffer[(r + i) % buffer.size()];
        }
        read.store((r + n) % buffer.size(), std::memory_order_release);
        return n;
    }

    size_t Capacity() const { return buffer.size() - 1; }

private:
    std::vector<T> buffer;  // one slot always free, to tell full from empty
    std::atomic<size_t> write{0};
    std::atomic<size_t> read{0};
};

}  // namespace live
