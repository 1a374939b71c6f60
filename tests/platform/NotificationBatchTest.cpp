// Socket notifications that the event loop finds are delivered in the turn
// that finds them. These are the cases where that must not change what a
// window sees: the order of its messages, and waits inside a delivery.
#include "platform/Winsock.h"

#include "tests/platform/MessageRecorder.h"
#include "tests/support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <string>

namespace Winsock {
namespace {

constexpr UINT kSocketMessage = WM_USER + 102;
constexpr UINT kPostedMessage = WM_USER + 103;

class NotificationBatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    }
    void TearDown() override { WSACleanup(); }

    size_t Count(SOCKET s, WORD event) const {
        size_t count = 0;
        for (const auto& m : m_recorder.Messages(kSocketMessage))
            count += m.WParam == s && WSAGETSELECTEVENT(m.LParam) == event;
        return count;
    }

    // Starts a connection of a socket registered for the events.
    SOCKET Connecting(const LoopbackPeer& peer, long events) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_NE(s, INVALID_SOCKET);
        EXPECT_EQ(WSAAsyncSelect(s, m_recorder.Window(), kSocketMessage, events), 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(peer.Port());
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        EXPECT_EQ(connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address),
                  SOCKET_ERROR);
        return s;
    }

    MessageRecorder m_recorder;
};

TEST_F(NotificationBatchTest, ANotificationNeverOvertakesAMessagePostedBeforeIt) {
    // Two sockets become readable before the loop looks, so one turn finds
    // both. The procedure that hears the first one posts a message: the
    // second socket's notification, found after that, must come after it.
    LoopbackPeer first;
    LoopbackPeer second;
    first.Accept().WaitForRelease().Send("1");
    second.Accept().WaitForRelease().Send("2");
    first.Start();
    second.Start();
    SOCKET a = Connecting(first, FD_READ | FD_CONNECT | FD_CLOSE);
    SOCKET b = Connecting(second, FD_READ | FD_CONNECT | FD_CLOSE);
    ASSERT_TRUE(
        DispatchUntil([&] { return Count(a, FD_CONNECT) == 1 && Count(b, FD_CONNECT) == 1; }));
    first.Release();
    second.Release();
    ASSERT_TRUE(first.WaitDone());
    ASSERT_TRUE(second.WaitDone());

    const size_t before = m_recorder.Messages().size();
    bool posted = false;
    m_recorder.OnMessage = [&](const RecordedMessage& m) {
        if (!posted && m.Message == kSocketMessage && WSAGETSELECTEVENT(m.LParam) == FD_READ)
            posted = PostMessage(m_recorder.Window(), kPostedMessage, 0, 0);
    };
    ASSERT_TRUE(DispatchUntil([&] { return Count(a, FD_READ) == 1 && Count(b, FD_READ) == 1; }));
    DispatchFor(std::chrono::milliseconds(20));
    m_recorder.OnMessage = nullptr;

    std::vector<UINT> order;
    std::vector<WORD> events;
    for (size_t i = before; i < m_recorder.Messages().size(); ++i) {
        const RecordedMessage& m = m_recorder.Messages()[i];
        order.push_back(m.Message);
        events.push_back(m.Message == kSocketMessage ? WSAGETSELECTEVENT(m.LParam) : 0);
    }
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0], kSocketMessage);
    EXPECT_EQ(events[0], FD_READ);
    EXPECT_EQ(order[1], kPostedMessage) << "the posted message comes before the second read";
    EXPECT_EQ(order[2], kSocketMessage);
    EXPECT_EQ(events[2], FD_READ);
    closesocket(a);
    closesocket(b);
}

TEST_F(NotificationBatchTest, AWaitInsideADeliveryHearsTheNotificationsBehindIt) {
    // One readiness (the connection completes) brings two notifications:
    // FD_CONNECT, then FD_WRITE. A procedure that waits for the second
    // inside the delivery of the first must still receive it.
    LoopbackPeer peer;
    peer.Accept().WaitForRelease();
    peer.Start();
    bool heardWrite = false;
    bool waited = false;
    SOCKET s = INVALID_SOCKET;
    m_recorder.OnMessage = [&](const RecordedMessage& m) {
        if (waited || m.Message != kSocketMessage || WSAGETSELECTEVENT(m.LParam) != FD_CONNECT)
            return;
        waited = true;
        heardWrite = DispatchUntil([&] { return Count(s, FD_WRITE) == 1; });
    };
    s = Connecting(peer, FD_ALL_EVENTS);
    ASSERT_TRUE(DispatchUntil([&] { return waited; }));
    m_recorder.OnMessage = nullptr;
    EXPECT_TRUE(heardWrite);
    const auto messages = m_recorder.Messages(kSocketMessage);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(WSAGETSELECTEVENT(messages[0].LParam), FD_CONNECT);
    EXPECT_EQ(WSAGETSELECTEVENT(messages[1].LParam), FD_WRITE);
    peer.Release();
    closesocket(s);
}

} // namespace
} // namespace Winsock
