#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

// Tells when fewer than a number of bytes have arrived within a span of time
// ("fewer than 1,024 bytes in any 30 seconds"), counted from Start. Each
// arrival costs constant time on average, and it keeps only the arrivals
// that still matter: those within the last `bytes` bytes.
class LowSpeedWindow {
public:
    using Clock = std::chrono::steady_clock;

    LowSpeedWindow(uint64_t bytes, Clock::duration span) : m_bytes(bytes), m_span(span) {}

    // Starts counting afresh at `now`, forgetting earlier arrivals.
    void Start(Clock::time_point now);
    bool Started() const { return !m_marks.empty(); }
    void Arrived(uint64_t count, Clock::time_point now);
    // When, with nothing more arriving, the span before that moment will
    // hold fewer than `bytes` bytes; the bound is broken from then on.
    Clock::time_point Deadline() const;

private:
    struct Mark {
        Clock::time_point At;
        uint64_t Total { 0 }; // bytes since Start, this arrival included
    };

    uint64_t m_bytes;
    Clock::duration m_span;
    uint64_t m_total { 0 };
    // Arrivals in time order; the first is the earliest after which the
    // bytes received so far reach fewer than `bytes` beyond its total.
    std::deque<Mark> m_marks;
};
