#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

#include <sys/resource.h>

// Small helpers shared by the benchmarks.
namespace BenchStats {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The median of the values (the mean of the middle two for an even count).
inline double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The calling thread's processor time so far, in seconds: in user space,
// and in the kernel on its behalf.
struct ThreadTimes {
    double User = 0;
    double System = 0;
};

inline ThreadTimes ThreadTimesNow() {
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6;
    };
    return { seconds(usage.ru_utime), seconds(usage.ru_stime) };
}

} // namespace BenchStats
