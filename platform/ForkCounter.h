#pragma once

#include <cstdint>

// Tells whether the process may have made a child since a moment, so that a
// socket can know that no other process holds its descriptor when it closes.
//
// The count rises when a fork begins and again when it has ended in the
// parent (odd while one is under way). Children made through glibc's fork
// are counted. Those made through vfork or posix_spawn are not and need not
// be: their parent runs on only once they have called exec, which closes the
// library's close-on-exec descriptors, or ended.
class ForkCounter {
public:
    // The count now. Read it before the descriptor is made.
    static std::uint64_t Now();
    // True when no fork began since 'then' was read and none was under way.
    static bool NoneSince(std::uint64_t then);
};
