// What the live benchmarks measure with: percentiles of a set of times,
// and the CPU time a thread has used (Linux).
#pragma once

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace pitchime::bench {

// The value below which `share` (0 to 1) of `values` lie; 0 for none.
inline double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()))];
}

// Microseconds of CPU `thread` has used; -1 when the system cannot tell.
inline std::int64_t threadCpuUs(std::thread& thread) {
    clockid_t clock;
    timespec t{};
    if (pthread_getcpuclockid(thread.native_handle(), &clock) != 0 || clock_gettime(clock, &t) != 0)
        return -1;
    return std::int64_t{t.tv_sec} * 1000000 + t.tv_nsec / 1000;
}

}  // namespace pitchime::bench
