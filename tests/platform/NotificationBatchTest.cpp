// Socket notifications that the event loop finds are delivered in the turn
// that finds them. These are the cases where that must not change what a
// window sees: the order of its messages, and waits inside a delivery.
#include "platform/Winsock.h"

#include "tests/platform/MessageRecorder.h"
#include "tests/support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

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

    // Two sockets connected to two peers, each with a byte waiting before
    // the loop looks (found without dispatching), so that the next turn of
    // the loop finds both. The peers keep their connections open until
    // Release.
    struct TwoReadable {
        LoopbackPeer First;
        LoopbackPeer Second;
        SOCKET A = INVALID_SOCKET;
        SOCKET B = INVALID_SOCKET;
    };
    void MakeReadable(TwoReadable& pair) {
        pair.First.Accept().WaitForRelease().Send("1").WaitForRelease();
        pair.Second.Accept().WaitForRelease().Send("2").WaitForRelease();
        pair.First.Start();
        pair.Second.Start();
        pair.A = Connecting(pair.First, FD_READ | FD_CONNECT | FD_CLOSE);
        pair.B = Connecting(pair.Second, FD_READ | FD_CONNECT | FD_CLOSE);
        ASSERT_TRUE(DispatchUntil(
            [&] { return Count(pair.A, FD_CONNECT) == 1 && Count(pair.B, FD_CONNECT) == 1; }));
        pair.First.Release();
        pair.Second.Release();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        char byte = 0;
        while (recv(pair.A, &byte, 1, MSG_PEEK) != 1 || recv(pair.B, &byte, 1, MSG_PEEK) != 1) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    static void Release(TwoReadable& pair) {
        pair.First.Release();
        pair.Second.Release();
        closesocket(pair.A);
        closesocket(pair.B);
    }

    // Runs the action inside the delivery of the first such event heard.
    void OnFirst(WORD event, std::function<void()> action) {
        m_recorder.OnMessage = [event, action = std::move(action),
                                done = false](const RecordedMessage& m) mutable {
            if (done || m.Message != kSocketMessage || WSAGETSELECTEVENT(m.LParam) != event)
                return;
            done = true;
            action();
        };
    }
    void OnFirstRead(std::function<void()> action) { OnFirst(FD_READ, std::move(action)); }

    MessageRecorder m_recorder;
};

TEST_F(NotificationBatchTest, ANotificationNeverOvertakesAMessagePostedBeforeIt) {
    // Two sockets become readable before the loop looks, so one turn finds
    // both. The procedure that hears the first one posts a message: the
    // second socket's notification, found after that, must come after it.
    TwoReadable pair;
    MakeReadable(pair);
    const size_t before = m_recorder.Messages().size();
    OnFirstRead([&] { PostMessage(m_recorder.Window(), kPostedMessage, 0, 0); });
    ASSERT_TRUE(
        DispatchUntil([&] { return Count(pair.A, FD_READ) == 1 && Count(pair.B, FD_READ) == 1; }));
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
    Release(pair);
}

TEST_F(NotificationBatchTest, AReadinessThatAnEarlierProcedureConsumedIsNotReported) {
    // One turn finds both sockets readable; the procedure that hears the
    // first reads both. The second readiness, read from the kernel before
    // that, is stale by the time it is handled: no notification for it.
    TwoReadable pair;
    MakeReadable(pair);
    bool drained = false;
    OnFirstRead([&] {
        drained = true;
        char byte = 0;
        EXPECT_EQ(recv(pair.A, &byte, 1, 0), 1);
        EXPECT_EQ(recv(pair.B, &byte, 1, 0), 1);
    });
    ASSERT_TRUE(DispatchUntil([&] { return drained; }));
    DispatchFor(std::chrono::milliseconds(50));
    m_recorder.OnMessage = nullptr;
    EXPECT_EQ(Count(pair.A, FD_READ) + Count(pair.B, FD_READ), 1u);
    Release(pair);
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

TEST_F(NotificationBatchTest, NotificationsBehindTheFirstAreDroppedWhenItsProcedureRegistersAgain) {
    // FD_CONNECT and FD_WRITE come from one readiness; FD_WRITE waits behind
    // the first. What the procedure that hears FD_CONNECT does to the socket
    // decides whether it still arrives.
    struct Case {
        const char* Name;
        std::function<void(SOCKET)> Action;
    };
    const Case cases[] = {
        { "registered again without FD_WRITE",
          [&](SOCKET s) {
              EXPECT_EQ(WSAAsyncSelect(s, m_recorder.Window(), kSocketMessage, FD_READ | FD_CLOSE),
                        0);
          } },
        { "closed", [](SOCKET s) { EXPECT_EQ(closesocket(s), 0); } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        LoopbackPeer peer;
        peer.Accept().WaitForRelease();
        peer.Start();
        SOCKET s = INVALID_SOCKET;
        bool acted = false;
        OnFirst(FD_CONNECT, [&] {
            acted = true;
            c.Action(s);
        });
        s = Connecting(peer, FD_ALL_EVENTS);
        ASSERT_TRUE(DispatchUntil([&] { return acted; }));
        DispatchFor(std::chrono::milliseconds(50));
        m_recorder.OnMessage = nullptr;
        EXPECT_EQ(Count(s, FD_CONNECT), 1u);
        EXPECT_EQ(Count(s, FD_WRITE), 0u);
        peer.Release();
        closesocket(s);
    }
}

} // namespace
} // namespace Winsock
