#pragma once

// Loopback figures hang on where the scheduler puts the calling thread and the server's threads,
// and each connection is served by a server thread of its own. In one start of a program the
// floor's connection may be served from a CPU beside the caller's and ours from across the
// machine, and in the next the other way round: the ratio moves by a tenth either way. A server
// started here keeps all its threads on one CPU and the caller on another, so that every
// connection is served alike.

#include <sched.h>

#include <vector>

namespace brisalune::bench {

inline void pinThisThread(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

// Calls `start` on the second CPU this thread may use, so that every thread it makes stays
// there, then moves this thread to the first. With one CPU it only calls.
template <class Start>
auto startServerBesideCaller(Start&& start) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    std::vector<int> cpus;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE && cpus.size() < 2; ++cpu) {
            if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
        }
    }
    if (cpus.size() < 2) return start();
    pinThisThread(cpus[1]);
    auto made = start();
    pinThisThread(cpus[0]);
    return made;
}

}  // namespace brisalune::bench
