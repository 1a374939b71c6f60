#pragma once

#include <utility>

// Runs a step whose failure must go no further, and drops whatever it raises.
// Only for the places where raising is not an option:
// - message handling: a window's message procedure never raises. What a
//   notification handler did shows through the flags (Connected, Canceled,
//   LastEventOk, ...) and the event that the waiting operation tests, so a
//   failure surfaces when that operation looks, not in the dispatcher;
// - destruction, which must not raise;
// - clean-up after a failure that is raised anyway: that first error is what
//   the caller hears, and a second one would only hide it.
// Every other catch handles what it caught or raises again.
template <typename Step> void Swallow(Step&& step) noexcept {
    try {
        std::forward<Step>(step)();
    } catch (...) {
        // Dropped on purpose; see above.
    }
}
