#pragma once

#include "platform/SocketEntry.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

// The library's open sockets by handle. Handles run from 1 to 0xFFFE so that
// they fit a 16-bit field with 0xFFFF left for "none"; a closed handle is
// handed out again only after all others have been used once.
class SocketTable {
public:
    static SocketTable& Instance();

    // Takes the descriptor; null (descriptor closed) when no handle is free.
    std::shared_ptr<SocketEntry> Add(int descriptor);
    // Every library call finds its socket here, several per operation, on
    // the thread that uses the socket: each thread remembers the sockets it
    // found last, and finds them again without the lock while no socket has
    // been removed since (only a removal, of any socket, can change what a
    // handle names).
    std::shared_ptr<SocketEntry> Find(Winsock::SOCKET handle) const;
    std::shared_ptr<SocketEntry> Remove(Winsock::SOCKET handle);
    std::vector<std::shared_ptr<SocketEntry>> RemoveAll();

private:
    // Find, under the lock.
    std::shared_ptr<SocketEntry> FindLocking(Winsock::SOCKET handle) const;

    static constexpr Winsock::SOCKET kFirstHandle = 1;
    static constexpr Winsock::SOCKET kLastHandle = 0xFFFE;

    mutable std::mutex m_mutex;
    std::map<Winsock::SOCKET, std::shared_ptr<SocketEntry>> m_sockets;
    Winsock::SOCKET m_next = kFirstHandle;
    // Counts removals; changed with the lock.
    std::atomic<std::uint64_t> m_removals { 0 };
};
