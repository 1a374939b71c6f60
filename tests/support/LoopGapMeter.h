#pragma once

#include <QTimer>

#include <chrono>

// Ticks a short timer on the thread's event loop and keeps the longest time
// between two ticks: a thread that stops dispatching events (a blocking call
// on the user-interface thread) shows as one long gap.
class LoopGapMeter {
public:
    using Clock = std::chrono::steady_clock;

    explicit LoopGapMeter(std::chrono::milliseconds period = std::chrono::milliseconds(5));
    // Forgets the gaps so far; the next gap counts from now.
    void Restart();
    std::chrono::milliseconds Longest() const;
    int Ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    Clock::time_point m_last;
    Clock::duration m_longest {};
    int m_ticks { 0 };
};
