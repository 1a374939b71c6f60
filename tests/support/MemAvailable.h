#pragma once

#include <cstdint>
#include <functional>

// The kernel's MemAvailable figure, read apart from the code under test, for
// checks of what that code derives from it. Memory comes and goes while a
// test runs (other programs build and run beside it), so the figure is read
// just before and just after the call under test, and a check allows for
// what moved in between plus a margin.
struct MemAvailableSpan {
    // Bytes, as read before and after; both 0 when the kernel gives no
    // MemAvailable line.
    std::uint64_t Low { 0 };
    std::uint64_t High { 0 };
    static constexpr std::uint64_t Margin = std::uint64_t { 256 } << 20;

    // The figure was above `bound` all along, by more than the margin.
    bool AllAbove(std::uint64_t bound) const { return Low > bound + Margin; }
    // value lies within the margin of the span.
    bool Holds(std::uint64_t value) const {
        return value + Margin >= Low && value <= High + Margin;
    }
};

// Reads the figure around the call.
MemAvailableSpan MemAvailableAround(const std::function<void()>& call);
