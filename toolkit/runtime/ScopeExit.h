#pragma once

#include <utility>

// Runs a clean-up step when the scope ends, by return or by exception, e.g.
// stopping the time limit that an operation started.
template <typename F> class ScopeExit {
public:
    explicit ScopeExit(F step) : m_step(std::move(step)) {}
    ~ScopeExit() { m_step(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F m_step;
};
