#include "platform/ForkCounter.h"

#include <atomic>
#include <pthread.h>

namespace {

std::atomic<std::uint64_t> g_forks { 0 };

void Count() {
    ++g_forks;
}

} // namespace

std::uint64_t ForkCounter::Now() {
    // Registered before the first descriptor that the count speaks for is
    // made; the handlers stay for the life of the process.
    static const bool registered = pthread_atfork(&Count, &Count, nullptr) == 0;
    // Without the handlers nothing is known: a count that stays odd says so.
    return registered ? g_forks.load() : 1;
}

bool ForkCounter::NoneSince(std::uint64_t then) {
    return then % 2 == 0 && g_forks.load() == then;
}
