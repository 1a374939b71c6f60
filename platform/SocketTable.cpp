#include "platform/SocketTable.h"

#include <unistd.h>

SocketTable& SocketTable::Instance() {
    // Never destroyed: lookup workers may still finish after static teardown.
    static auto* table = new SocketTable;
    return *table;
}

std::shared_ptr<SocketEntry> SocketTable::Add(int descriptor) {
    std::lock_guard lock(m_mutex);
    for (Winsock::SOCKET tried = 0; tried < kLastHandle; ++tried) {
        Winsock::SOCKET handle = m_next;
        m_next = m_next == kLastHandle ? kFirstHandle : m_next + 1;
        if (m_sockets.count(handle))
            continue;
        auto entry = std::make_shared<SocketEntry>(handle, descriptor);
        m_sockets.emplace(handle, entry);
        return entry;
    }
    ::close(descriptor);
    return nullptr;
}

std::shared_ptr<SocketEntry> SocketTable::Find(Winsock::SOCKET handle) const {
    std::lock_guard lock(m_mutex);
    auto found = m_sockets.find(handle);
    return found == m_sockets.end() ? nullptr : found->second;
}

std::shared_ptr<SocketEntry> SocketTable::Remove(Winsock::SOCKET handle) {
    std::lock_guard lock(m_mutex);
    auto found = m_sockets.find(handle);
    if (found == m_sockets.end())
        return nullptr;
    auto entry = std::move(found->second);
    m_sockets.erase(found);
    return entry;
}

std::vector<std::shared_ptr<SocketEntry>> SocketTable::RemoveAll() {
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<SocketEntry>> entries;
    for (auto& [handle, entry] : m_sockets)
        entries.push_back(std::move(entry));
    m_sockets.clear();
    return entries;
}
