#pragma once

// The channels of a simulation, worked on by several threads at once. Each simulation holds its
// own thread count and passes it to every loop; nothing here keeps state between calls. The
// threads come from OpenMP (the compiler's own runtime); a build without OpenMP (the web build,
// a module compiled without -fopenmp) runs every loop on the calling thread, in order.
//
// Every loop body writes only what its own index owns, so the results do not depend on the
// number of threads nor on which thread runs which index.

#include <cstdint>
#include <exception>
#include <mutex>

#ifdef _OPENMP
#include <pthread.h>
#include <signal.h>
#endif

namespace parallel {

// The thread count a simulation uses unless told otherwise: the environment variable
// CIHEAR_THREADS when it holds a whole number from 1 to 1024, otherwise every core this process
// may run on (its CPU affinity). Always 1 without OpenMP.
unsigned DefaultThreadCount();

// Collects the first exception thrown by a loop body, to be rethrown on the calling thread once
// the loop is over (an exception must not leave an OpenMP region).
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

#ifdef _OPENMP
// Blocks the signals that end the program (SIGINT, SIGTERM, SIGHUP) in the calling thread
// while a parallel loop runs, so that the threads the loop starts, which keep the mask they
// start with, never take them: a signal sent to the process always reaches a thread of the
// program's own, whose handlers (the output writer's clean-up) run where they expect to. A
// signal arriving meanwhile waits until the loop is over.
class QuietWorkers {
public:
    QuietWorkers() {
        sigset_t ending;
        sigemptyset(&ending);
        sigaddset(&ending, SIGINT);
        sigaddset(&ending, SIGTERM);
        sigaddset(&ending, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &ending, &saved);
    }
    ~QuietWorkers() { pthread_sigmask(SIG_SETMASK, &saved, nullptr); }
    QuietWorkers(const QuietWorkers&) = delete;
    QuietWorkers& operator=(const QuietWorkers&) = delete;

private:
    sigset_t saved;
};
#endif

// body(i) for every i in [0, count), on up to `threads` threads, each index taken by the next
// free thread.
template <typename F>
void For(unsigned threads, uint32_t count, F&& body) {
    Errors errors;
#ifdef _OPENMP
    const int team = static_cast<int>(threads < count ? threads : count);
    const QuietWorkers quiet;
#pragma omp parallel for schedule(dynamic, 1) num_threads(team) if (team > 1)
    for (int64_t i = 0; i < static_cast<int64_t>(count); i++) {
        errors.Run([&] { body(static_cast<uint32_t>(i)); });
    }
#else
    (void)threads;
    for (uint32_t i = 0; i < count; i++) {
        errors.Run([&] { body(i); });
    }
#endif
    errors.Rethrow();
}

// body(i) for every i in [0, count) in parallel as For does, and finish(i) after body(i), one
// index at a time in increasing order (for sums whose order of additions is fixed). At most
// `threads` bodies are finished and waiting for their turn at any time.
template <typename F, typename G>
void ForOrdered(unsigned threads, uint32_t count, F&& body, G&& finish) {
    Errors errors;
#ifdef _OPENMP
    const int team = static_cast<int>(threads < count ? threads : count);
    const QuietWorkers quiet;
#pragma omp parallel for ordered schedule(dynamic, 1) num_threads(team) if (team > 1)
    for (int64_t i = 0; i < static_cast<int64_t>(count); i++) {
        errors.Run([&] { body(static_cast<uint32_t>(i)); });
#pragma omp ordered
        {
            if (!errors.Failed()) {
                errors.Run([&] { finish(static_cast<uint32_t>(i)); });
            }
        }
    }
#else
    (void)threads;
    for (uint32_t i = 0; i < count && !errors.Failed(); i++) {
        errors.Run([&] {
            body(i);
            finish(i);
        });
    }
#endif
    errors.Rethrow();
}

}  // namespace parallel
