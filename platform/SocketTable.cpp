#include "platform/SocketTable.h"

#include <array>
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
    struct Remembered {
        const SocketTable* Table = nullptr;
        Winsock::SOCKET Handle = 0;
        std::uint64_t Removals = 0;
        std::weak_ptr<SocketEntry> Entry;
    };
    constexpr size_t kRemembered = 4;
    thread_local std::array<Remembered, kRemembered> t_remembered;
    Remembered& place = t_remembered[handle % kRemembered];
    // Read before the table: a removal after this read makes the next look
    // miss, never this one wrong.
    const std::uint64_t removals = m_removals.load();
    if (place.Table == this && place.Handle == handle && place.Removals == removals) {
        if (auto entry = place.Entry.lock())
            return entry;
    }
    auto entry = FindLocking(handle);
    if (entry)
        place = { this, handle, removals, entry };
    return entry;
}

std::shared_ptr<SocketEntry> SocketTable::FindLocking(Winsock::SOCKET handle) const {
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
    ++m_removals;
    return entry;
}

std::vector<std::shared_ptr<SocketEntry>> SocketTable::RemoveAll() {
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<SocketEntry>> entries;
    for (auto& [handle, entry] : m_sockets)
        entries.push_back(std::move(entry));
    m_sockets.clear();
    ++m_removals;
    return entries;
}
