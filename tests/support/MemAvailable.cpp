#include "tests/support/MemAvailable.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::uint64_t MemAvailableBytes() {
    std::ifstream meminfo("/proc/meminfo");
    std::string line;
    while (std::getline(meminfo, line)) {
        std::istringstream fields(line);
        std::string name;
        std::uint64_t kib = 0;
        std::string unit;
        if (fields >> name >> kib >> unit && name == "MemAvailable:" && unit == "kB")
            return kib * 1024;
    }
    return 0;
}

} // namespace

MemAvailableSpan MemAvailableAround(const std::function<void()>& call) {
    const std::uint64_t before = MemAvailableBytes();
    call();
    const std::uint64_t after = MemAvailableBytes();
    return { std::min(before, after), std::max(before, after) };
}
