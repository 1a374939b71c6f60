#include "tests/support/DispatchUntil.h"

#include "platform/Events.h"

#include <algorithm>

namespace {

// What is left of the time until end, rounded up: 0 once it has passed.
DWORD MillisecondsUntil(std::chrono::steady_clock::time_point end) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

} // namespace

bool DispatchUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    constexpr DWORD slice = 20;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        const DWORD left = MillisecondsUntil(end);
        if (left == 0)
            return false;
        // The wait dispatches what woke it; nothing more is dispatched here,
        // so each turn of the loop is one turn of the event loop.
        MsgWaitForMultipleObjects(0, nullptr, false, std::min(left, slice), QS_ALLINPUT);
    }
    return true;
}

void DispatchFor(std::chrono::milliseconds period) {
    // One wait for the whole period where nothing wakes it: a test may count
    // how often the thread woke.
    const auto end = std::chrono::steady_clock::now() + period;
    for (DWORD left = MillisecondsUntil(end); left > 0; left = MillisecondsUntil(end))
        MsgWaitForMultipleObjects(0, nullptr, false, left, QS_ALLINPUT);
}
