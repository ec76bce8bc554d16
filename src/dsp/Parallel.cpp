#include "dsp/Parallel.h"

#include <condition_variable>
#include <cstdlib>
#include <system_error>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#endif

namespace parallel {

unsigned DefaultThreadCount() {
#ifdef CIHEAR_PARALLEL
    if (const char* text = std::getenv("CIHEAR_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value >= 1 && value <= 1024) {
            return static_cast<unsigned>(value);
        }
    }
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int cores = CPU_COUNT(&set);
        if (cores >= 1) {
            return static_cast<unsigned>(cores);
        }
    }
#endif
    const unsigned cores = std::thread::hardware_concurrency();
    return cores >= 1 ? cores : 1;
#else
    return 1;
#endif
}

namespace {

// How long a waiting thread checks before it gives its core away: about 50 microseconds of
// pause instructions, enough for the short serial steps between the loops of a simulation.
const int spinLimit = 2000;

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

// A loop is published as one 64-bit word: the loop's number in the high half and the next index
// to take in the low half. A thread takes an index by advancing the word only while it still
// holds what the thread read before reading the loop's function, context and count. Before those
// change for the next loop, the word is closed (the new number, and an index no loop reaches),
// so a late helper never runs an index with another loop's values.
struct Team::Shared {
    static const uint32_t closed = 0xffffffffu;

    std::atomic<uint64_t> word{0};
    std::atomic<void (*)(void*, uint32_t)> function{nullptr};
    std::atomic<void*> context{nullptr};
    std::atomic<uint32_t> count{0};
    std::atomic<uint32_t> done{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable wake;

    // Takes and runs indices of the loop numbered `loop` until none is left.
    void Work(uint32_t loop) {
        uint64_t w = word.load(std::memory_order_acquire);
        for (;;) {
            if (static_cast<uint32_t>(w >> 32) != loop) {
                return;
            }
            // In one total order with the caller's closing and setting up (all sequentially
            // consistent): values of the next loop imply a closed word, and the exchange below
            // then fails.
            void (*f)(void*, uint32_t) = function.load();
            void* c = context.load();
            const uint32_t n = count.load();
            const uint32_t i = static_cast<uint32_t>(w);
            if (i == closed) {
                Pause();  // the loop is being set up
                w = word.load(std::memory_order_acquire);
                continue;
            }
            if (i >= n) {
                return;
            }
            if (word.compare_exchange_weak(w, w + 1)) {
                f(c, i);
                done.fetch_add(1, std::memory_order_acq_rel);
                w = word.load(std::memory_order_acquire);
            }
        }
    }

    void Helper() {
        uint32_t seen = 0;
        for (;;) {
            uint32_t loop = 0;
            for (int spin = 0;; spin++) {
                loop = static_cast<uint32_t>(word.load(std::memory_order_acquire) >> 32);
                if (loop != seen || stop.load(std::memory_order_acquire)) {
                    break;
                }
                if (spin < spinLimit) {
                    Pause();
                } else {
                    std::unique_lock<std::mutex> lock(mutex);
                    wake.wait(lock, [&] {
                        return static_cast<uint32_t>(word.load() >> 32) != seen || stop.load();
                    });
                }
            }
            if (stop.load(std::memory_order_acquire)) {
                return;
            }
            seen = loop;
            Work(loop);
        }
    }
};

Team::Team(unsigned size) : shared(new Shared) {
#ifdef CIHEAR_PARALLEL
    if (size <= 1) {
        return;
    }
#if defined(__linux__)
    // The helpers start with the signals that end the program blocked, and keep them so.
    sigset_t ending, saved;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &ending, &saved);
#endif
    try {
        for (unsigned t = 1; t < size; t++) {
            helpers.emplace_back([s = shared.get()] { s->Helper(); });
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked for (the system's limit): the loops run on those there are.
    }
#if defined(__linux__)
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
#endif
#else
    (void)size;
#endif
}

Team::~Team() {
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->stop.store(true, std::memory_order_release);
    }
    shared->wake.notify_all();
    for (std::thread& t : helpers) {
        t.join();
    }
}

void Team::Dispatch(uint32_t count, void (*function)(void*, uint32_t), void* context) {
    Shared& s = *shared;
    const uint32_t loop = static_cast<uint32_t>(s.word.load(std::memory_order_relaxed) >> 32) + 1;
    s.word.store(static_cast<uint64_t>(loop) << 32 | Shared::closed, std::memory_order_seq_cst);
    s.function.store(function);
    s.context.store(context);
    s.count.store(count);
    s.done.store(0);
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.word.store(static_cast<uint64_t>(loop) << 32, std::memory_order_release);
    }
    s.wake.notify_all();
    s.Work(loop);
    // Every index is taken; wait for the ones still running elsewhere.
    for (int spin = 0; s.done.load(std::memory_order_acquire) != count; spin++) {
        if (spin < spinLimit) {
            Pause();
        } else {
            std::this_thread::yield();
        }
    }
}

}  // namespace parallel
