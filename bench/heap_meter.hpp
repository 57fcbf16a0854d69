#pragma once

// The peak heap of one decode, measured outside the timed loop. It replaces the global operator
// new and delete, so a program includes it from exactly one source: every *_bench.cpp is one.
//
// Only the calling thread is counted (a loopback server's threads are not), and only what is
// taken during the call: buffers kept from before (a parser reused between decodes, a
// connection's buffers) are not in the figure.

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace brisalune::bench {

namespace heap {

struct Tally {
    bool counting = false;
    std::int64_t live = 0;
    std::int64_t peak = 0;
    std::int64_t allocations = 0;
};

inline thread_local Tally tally;

inline void* take(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (!p) throw std::bad_alloc();
    if (tally.counting) {
        tally.live += static_cast<std::int64_t>(malloc_usable_size(p));
        tally.peak = std::max(tally.peak, tally.live);
        ++tally.allocations;
    }
    return p;
}

inline void give(void* p) noexcept {
    if (!p) return;
    if (tally.counting) tally.live -= static_cast<std::int64_t>(malloc_usable_size(p));
    std::free(p);
}

}  // namespace heap

// The peak heap that one call of `f` takes on this thread beyond what was held before it.
template <class F>
std::int64_t peakHeap(F&& f) {
    heap::tally = {.counting = true};
    f();
    heap::tally.counting = false;
    return heap::tally.peak;
}

// Reports it as the counter scripts/bench prints beside the answer's size.
template <class F>
void reportPeakHeap(benchmark::State& state, F&& f) {
    state.counters["peak_heap"] = static_cast<double>(peakHeap(f));
}

// glibc hands the free top of the heap back to the system once more than a threshold lies
// there, and raises that threshold with the largest block freed so far. Left alone, a decode
// whose answer was freed just under that line faults all its memory in again at every
// repetition or not, by which benchmark happened to run before it (an incident detail: 0.67 ms
// or 1.4 ms). Each program starts as a program that has freed one large answer (an 8 MB pull)
// does, so that every figure is the decode's own and the same in any order.
inline const bool heapAsAfterAPull = [] {
    auto* answer = static_cast<char*>(std::malloc(std::size_t{8} << 20));
    benchmark::DoNotOptimize(answer);
    std::free(answer);
    return true;
}();

}  // namespace brisalune::bench

// The replacements themselves: only in the one source that includes this header.
void* operator new(std::size_t size) { return brisalune::bench::heap::take(size); }
void* operator new[](std::size_t size) { return brisalune::bench::heap::take(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return brisalune::bench::heap::take(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return brisalune::bench::heap::take(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { brisalune::bench::heap::give(p); }
void operator delete[](void* p) noexcept { brisalune::bench::heap::give(p); }
void operator delete(void* p, std::size_t) noexcept { brisalune::bench::heap::give(p); }
void operator delete[](void* p, std::size_t) noexcept { brisalune::bench::heap::give(p); }
