// The library's socket table. Threads find the sockets they used last
// without the table's lock; a socket taken out of the table must still never
// be found again, also while somebody holds it and after its handle was
// handed out anew.
#include "platform/SocketTable.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// A descriptor for an entry to own; the entry closes it.
int Descriptor() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// A new socket of the table, found once, so that the thread remembers it.
std::shared_ptr<SocketEntry> AddFound(SocketTable& table) {
    auto entry = table.Add(Descriptor());
    EXPECT_TRUE(entry);
    EXPECT_EQ(entry ? table.Find(entry->Handle()) : nullptr, entry);
    return entry;
}

TEST(SocketTable, ARemovedSocketIsNotFoundWhileItIsStillHeld) {
    SocketTable table;
    auto entry = AddFound(table);
    ASSERT_TRUE(entry);
    const Winsock::SOCKET handle = entry->Handle();
    ASSERT_EQ(table.Find(handle), entry) << "found again, as remembered";

    std::thread([&] { EXPECT_EQ(table.Find(handle), entry); }).join();
    EXPECT_EQ(table.Remove(handle), entry);
    EXPECT_EQ(table.Find(handle), nullptr) << "by the thread that removed it";
    std::thread([&] { EXPECT_EQ(table.Find(handle), nullptr); }).join();

    SCOPED_TRACE("removed by another thread");
    auto second = AddFound(table);
    ASSERT_TRUE(second);
    std::thread([&] { EXPECT_EQ(table.Remove(second->Handle()), second); }).join();
    EXPECT_EQ(table.Find(second->Handle()), nullptr);

    SCOPED_TRACE("all at once");
    auto third = AddFound(table);
    ASSERT_TRUE(third);
    EXPECT_EQ(table.RemoveAll().size(), 1u);
    EXPECT_EQ(table.Find(third->Handle()), nullptr);
}

TEST(SocketTable, AHandleHandedOutAgainNamesTheNewSocket) {
    // Handles come round again only after all others were used once: take
    // a handle, remember it, and go once round the whole range while the old
    // socket is still held.
    SocketTable table;
    auto old = AddFound(table);
    ASSERT_TRUE(old);
    const Winsock::SOCKET handle = old->Handle();
    ASSERT_EQ(table.Remove(handle), old);
    std::shared_ptr<SocketEntry> renewed;
    for (int i = 0; i < 0x10000 && !renewed; ++i) {
        auto entry = table.Add(Descriptor());
        ASSERT_TRUE(entry);
        if (entry->Handle() == handle)
            renewed = entry;
        else
            table.Remove(entry->Handle());
    }
    ASSERT_TRUE(renewed);
    EXPECT_EQ(table.Find(handle), renewed);
    EXPECT_NE(table.Find(handle), old);
}

} // namespace
