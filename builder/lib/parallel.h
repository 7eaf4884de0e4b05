// Runs independent pieces of work on several threads. The shipped Windows
// builder is compiled for the win32 thread model, where the standard library
// has no threads, so threads come from the system there; atomics work on
// every compiler. Results must not depend on which thread ran what: callers
// write each piece's result to its own slot and combine them in order.
#pragma once
#include <cstddef>
#include <functional>

// Processors this process may run on (at least 1).
unsigned AvailableCores();

// How often ParallelFor calls its tick while the work runs.
constexpr unsigned kTickMilliseconds = 100;

// Calls work(i) for every i below count, each exactly once, on up to `jobs`
// threads; returns when all are done. work must not throw. The calling thread
// only waits, calling tick (when not null) before the work starts, every
// kTickMilliseconds and once at the end, so what tick does needs no lock
// against itself. Where no thread
// can be started the work runs on the calling thread.
void ParallelFor(size_t count, unsigned jobs, const std::function<void(size_t)>& work,
                 const std::function<void()>* tick);
