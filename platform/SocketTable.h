#pragma once

#include "platform/SocketEntry.h"

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
    std::shared_ptr<SocketEntry> Find(Winsock::SOCKET handle) const;
    std::shared_ptr<SocketEntry> Remove(Winsock::SOCKET handle);
    std::vector<std::shared_ptr<SocketEntry>> RemoveAll();

private:
    static constexpr Winsock::SOCKET kFirstHandle = 1;
    static constexpr Winsock::SOCKET kLastHandle = 0xFFFE;

    mutable std::mutex m_mutex;
    std::map<Winsock::SOCKET, std::shared_ptr<SocketEntry>> m_sockets;
    Winsock::SOCKET m_next = kFirstHandle;
};
