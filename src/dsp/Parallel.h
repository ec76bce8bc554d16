#pragma once

// The channels of a simulation, worked on by several threads at once. Each simulation holds its
// own thread count (and, for its many short loops, its own Team of threads); nothing here keeps
// state between calls. A build without threads (the web build, CIHEAR_PARALLEL off) runs every
// loop on the calling thread, in order.
//
// Every loop body writes only what its own index owns, so the results do not depend on the
// number of threads nor on which thread runs which index.

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace parallel {

// The thread count a simulation uses unless told otherwise: the environment variable
// CIHEAR_THREADS when it holds a whole number from 1 to 1024, otherwise every core this process
// may run on (its CPU affinity). Always 1 in a build without threads.
unsigned DefaultThreadCount();

// Collects the first exception thrown by a loop body, to be rethrown on the calling thread once
// the loop is over.
class Errors {
public:
    template <typename F>
    void Run(F&& f) noexcept {
        try {
            f();
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!first) {
                first = std::current_exception();
            }
        }
    }
    bool Failed() {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<bool>(first);
    }
    void Rethrow() {
        if (first) {
            std::rethrow_exception(first);
        }
    }

private:
    std::mutex mutex;
    std::exception_ptr first;
};

// The calling thread and size - 1 helper threads, started with the team and ended with it. A
// loop's indices are taken one at a time by whichever thread is free, the calling thread among
// them; the call returns once every index is done, without waiting for a helper that took none
// (on a busy machine a helper may not get a core for a while). Between loops a helper waits
// briefly and then sleeps. The helpers never take the signals that end the program (SIGINT,
// SIGTERM, SIGHUP), so those always reach a thread of the program's own, whose handlers (the
// output writer's clean-up) run where they expect to.
class Team {
public:
    explicit Team(unsigned size);
    ~Team();
    Team(const Team&) = delete;
    Team& operator=(const Team&) = delete;

    unsigned Size() const { return static_cast<unsigned>(helpers.size()) + 1; }

    // body(i) for every i in [0, count).
    template <typename F>
    void For(uint32_t count, F&& body) {
        Errors errors;
        auto run = [&](uint32_t i) { errors.Run([&] { body(i); }); };
        if (helpers.empty() || count <= 1) {
            for (uint32_t i = 0; i < count; i++) {
                run(i);
            }
        } else {
            Dispatch(count, &Call<decltype(run)>, &run);
        }
        errors.Rethrow();
    }

    struct Shared;  // the state the threads share (Parallel.cpp)

private:
    template <typename G>
    static void Call(void* f, uint32_t i) {
        (*static_cast<G*>(f))(i);
    }
    void Dispatch(uint32_t count, void (*function)(void*, uint32_t), void* context);

    std::unique_ptr<Shared> shared;
    std::vector<std::thread> helpers;
};

// Where slice k of `parts` equal slices of [0, total) starts (slice k ends where k + 1 starts).
inline uint64_t SliceStart(uint64_t total, uint32_t k, uint32_t parts) {
    return total * k / parts;
}

// body(i) for every i in [0, count) in parallel as Team::For does, and finish(i) after body(i), one
// index at a time in increasing order (for sums whose order of additions is fixed): the indices
// go in rounds of as many as there are threads, each round's bodies on the team and then its
// finishes on the calling thread, so at most `threads` bodies are finished and waiting. A
// failing body stops the loop before its round's finishes.
template <typename F, typename G>
void ForOrdered(unsigned threads, uint32_t count, F&& body, G&& finish) {
    Team team(threads < count ? threads : count);
    const uint32_t size = team.Size();
    for (uint32_t first = 0; first < count; first += size) {
        const uint32_t round = count - first < size ? count - first : size;
        team.For(round, [&](uint32_t k) { body(first + k); });
        for (uint32_t i = first; i < first + round; i++) {
            finish(i);
        }
    }
}

}  // namespace parallel
