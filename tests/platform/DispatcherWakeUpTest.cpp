// How often the socket library makes the thread's event loop turn: each
// turn in which the thread may sleep is counted by the dispatcher's
// aboutToBlock signal, under glib's dispatcher and Qt's own alike. A small
// page costs a few turns; a readiness that the loop kept seeing would make
// thousands, and keep a core busy. How many system calls a page costs is the
// page benchmark's to count (bench/BenchHttp.cpp), not these tests'.
#include "platform/Events.h"
#include "platform/WindowRegistry.h"
#include "platform/Winsock.h"

#include "tests/platform/MessageRecorder.h"
#include "tests/support/LoopbackPeer.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace Winsock {
namespace {

constexpr UINT kSocketMessage = WM_USER + 101;
constexpr long kRenewedEvents = FD_ALL_EVENTS & ~FD_WRITE;

class DispatcherWakeUps : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    }
    void TearDown() override { WSACleanup(); }

    // Counts the turns of the event loop that the action makes.
    template <typename Action> static int TurnsOf(Action&& action) {
        int turns = 0;
        QObject counter;
        QObject::connect(QThread::currentThread()->eventDispatcher(),
                         &QAbstractEventDispatcher::aboutToBlock, &counter, [&turns] { ++turns; });
        action();
        return turns;
    }

    size_t Count(SOCKET s, WORD event) const {
        size_t count = 0;
        for (const auto& m : m_recorder.Messages(kSocketMessage))
            count += m.WParam == s && WSAGETSELECTEVENT(m.LParam) == event;
        return count;
    }

    static int Connect(SOCKET s, std::uint16_t port) {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        return connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }

    SOCKET FreshSocket() {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_NE(s, INVALID_SOCKET);
        EXPECT_EQ(WSAAsyncSelect(s, m_recorder.Window(), kSocketMessage, kRenewedEvents), 0);
        return s;
    }

    // One request as an HTTP/1.0 client makes it on a socket that was made
    // and registered after the previous connection: connect, send the
    // request, read until the server closes, close and make the next socket.
    // Returns the bytes received and leaves the next socket in s.
    std::string Fetch(SOCKET& s, std::uint16_t port) {
        EXPECT_EQ(Connect(s, port), SOCKET_ERROR);
        EXPECT_TRUE(DispatchUntil([&] { return Count(s, FD_CONNECT) > 0; }));
        const std::string request = "GET /page HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        EXPECT_EQ(send(s, request.data(), static_cast<int>(request.size()), 0),
                  static_cast<int>(request.size()));
        std::string received;
        size_t reads = 0;
        while (Count(s, FD_CLOSE) == 0) {
            EXPECT_TRUE(
                DispatchUntil([&] { return Count(s, FD_READ) > reads || Count(s, FD_CLOSE) > 0; }));
            reads = Count(s, FD_READ);
            char buffer[65536];
            for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;)
                received.append(buffer, static_cast<size_t>(n));
        }
        closesocket(s);
        s = FreshSocket();
        return received;
    }

    // Three small page fetches as a client makes them, each on the socket
    // renewed after the one before; check(turns, notifications) runs after
    // the second and the third (the first makes what lives as long as the
    // thread) with the turns of the loop and the socket notifications of
    // that fetch.
    template <typename Check> void FetchRenewedPages(Check&& check) {
        const std::string page =
            "HTTP/1.0 200 OK\r\nContent-Length: 20480\r\n\r\n" + std::string(20480, 'p');
        LoopbackPeer peer;
        for (int i = 0; i < 3; ++i)
            peer.Accept().ReadUntil("\r\n\r\n").Send(page).Close();
        peer.Start();
        SOCKET s = FreshSocket();
        ASSERT_EQ(Fetch(s, peer.Port()), page);
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE("fetch " + std::to_string(i + 2));
            std::string received;
            const size_t before = m_recorder.Messages(kSocketMessage).size();
            const int turns = TurnsOf([&] { received = Fetch(s, peer.Port()); });
            ASSERT_EQ(received, page);
            check(turns, static_cast<int>(m_recorder.Messages(kSocketMessage).size() - before));
        }
        EXPECT_TRUE(peer.WaitDone());
        EXPECT_EQ(peer.Failure(), "");
        closesocket(s);
    }

    MessageRecorder m_recorder;
};

TEST_F(DispatcherWakeUps, TheCounterSeesATurnThatAPostedEventEnds) {
    // Without this the bounds below could hold only because the loop turns
    // in a way the counter does not see.
    MessageRecorder recorder;
    std::thread poster;
    const int turns = TurnsOf([&] {
        poster = std::thread([&] {
            std::this_thread::sleep_for(1ms);
            PostMessage(recorder.Window(), WM_USER + 1, 0, 0);
        });
        EXPECT_TRUE(DispatchUntil([&] { return recorder.Count(WM_USER + 1) == 1; }));
        poster.join();
    });
    EXPECT_GE(turns, 1);
    EXPECT_LE(turns, 3);
}

TEST_F(DispatcherWakeUps, AnEventSetInsideTheWaitsOwnDispatchEndsItWithoutAWakeUp) {
    // The socket component's pattern: a notification handler, run by the
    // wait's dispatch, signals the event the wait is waiting for.
    EventObject event;
    DWORD result = 0;
    const int turns = TurnsOf([&] {
        PostWindowTask(m_recorder.Window(), [&] { event.Set(); });
        const HANDLE handle = event.Handle();
        result = MsgWaitForMultipleObjects(1, &handle, false, 20000, QS_ALLINPUT);
    });
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_LE(turns, 1) << "the turn that delivers the post ends the wait";

    SCOPED_TRACE("from another thread it still wakes the waiting one");
    event.Reset();
    std::thread setter([&] { event.Set(); });
    const HANDLE handle = event.Handle();
    result = MsgWaitForMultipleObjects(1, &handle, false, 20000, QS_ALLINPUT);
    setter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
}

TEST_F(DispatcherWakeUps, ASmallPageFetchOnARenewedSocketWakesAtMostFourTimes) {
    FetchRenewedPages([](int turns, int) {
        // Connected, data, closed: a turn each at most; one more when the
        // page arrives in two parts.
        EXPECT_LE(turns, 4);
    });
}

TEST_F(DispatcherWakeUps, ASmallPageFetchIsDeliveredInTheTurnsThatFindIt) {
    // What the event loop finds it delivers in the same turn, instead of
    // posting it for a turn of its own: each turn brings something new.
    FetchRenewedPages([](int turns, int notifications) {
        EXPECT_GE(notifications, 3) << "connected, data, closed";
        EXPECT_LE(turns, notifications);
    });
}

TEST_F(DispatcherWakeUps, AWaitInsideAReadNotificationThatDoesNotReadStaysQuiet) {
    // The read notification is delivered inside the turn that found the
    // data; the epoll set stops asking for it only once the delivery
    // returns. A procedure that waits without reading meanwhile sees that
    // readiness once more at most, and no second notification.
    LoopbackPeer peer;
    peer.Accept().Send("data").WaitForRelease();
    peer.Start();
    SOCKET s = FreshSocket();
    Connect(s, peer.Port());
    int nestedTurns = -1;
    size_t nestedReads = 0;
    m_recorder.OnMessage = [&](const RecordedMessage& m) {
        if (nestedTurns >= 0 || m.Message != kSocketMessage ||
            WSAGETSELECTEVENT(m.LParam) != FD_READ)
            return;
        nestedTurns = TurnsOf([] { DispatchFor(100ms); });
        nestedReads = Count(s, FD_READ);
    };
    ASSERT_TRUE(DispatchUntil([&] { return nestedTurns >= 0; }));
    m_recorder.OnMessage = nullptr;
    // The stale readiness once at most; a loop kept busy by the data makes
    // thousands.
    EXPECT_LE(nestedTurns, 4) << "the data kept the loop busy";
    EXPECT_EQ(nestedReads, 1u);
    DispatchFor(50ms);
    EXPECT_EQ(Count(s, FD_READ), 1u) << "no second notification before recv";
    char buffer[8];
    EXPECT_EQ(recv(s, buffer, 2, 0), 2);
    EXPECT_TRUE(DispatchUntil([&] { return Count(s, FD_READ) == 2; }))
        << "recv re-arms while data remains";
    peer.Release();
    closesocket(s);
}

TEST_F(DispatcherWakeUps, ReadinessThatIsThereIsTakenWithoutATurnWhileTheLoopLookedLately) {
    // Each read leaves data behind, so readiness is there whenever the next
    // wait starts. The dispatcher has just slept (for the first readiness):
    // what else it watches was looked at only now, so the waits take that
    // readiness themselves. Only once that look is 2 ms old do they turn the
    // loop again, every other wait; a slow machine gets there within these
    // nine waits, so the count is only held to what turning every other
    // wait would make.
    const std::string data = "abcdefghij";
    LoopbackPeer peer;
    peer.Accept().Send(data).WaitForRelease();
    peer.Start();
    SOCKET s = FreshSocket();
    Connect(s, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_READ) == 1; }));
    std::string received;
    const int turns = TurnsOf([&] {
        for (size_t i = 1; i < data.size(); ++i) {
            char byte = 0;
            ASSERT_EQ(recv(s, &byte, 1, 0), 1);
            received += byte;
            ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_READ) == i + 1; }));
        }
    });
    EXPECT_EQ(received, data.substr(0, data.size() - 1));
    const int waits = static_cast<int>(data.size()) - 1;
    EXPECT_LE(turns, waits / 2 + 1) << "readiness that is there needs no turn";
    peer.Release();
    closesocket(s);
}

TEST_F(DispatcherWakeUps, AConnectionThatIsAlwaysReadyLetsTimersAndPostedMessagesIn) {
    // Every wait finds readiness there (each reads one byte of 8 KiB), yet a
    // timer and a message posted from another thread are handled while
    // most of the data is still unread.
    constexpr size_t kSize = 8192;
    LoopbackPeer peer;
    peer.Accept().Send(std::string(kSize, 'r')).WaitForRelease();
    peer.Start();
    SOCKET s = FreshSocket();
    Connect(s, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_READ) == 1; }));
    bool timerFired = false;
    bool messageSeen = false;
    QObject context;
    QTimer::singleShot(5ms, &context, [&timerFired] { timerFired = true; });
    std::thread poster([&context, &messageSeen] {
        std::this_thread::sleep_for(5ms);
        QMetaObject::invokeMethod(
            &context, [&messageSeen] { messageSeen = true; }, Qt::QueuedConnection);
    });
    size_t taken = 0;
    while (!(timerFired && messageSeen) && taken < kSize) {
        char byte = 0;
        if (recv(s, &byte, 1, 0) != 1)
            break;
        ++taken;
        const size_t reads = Count(s, FD_READ);
        ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_READ) > reads; }, 5s));
    }
    poster.join();
    EXPECT_TRUE(timerFired);
    EXPECT_TRUE(messageSeen);
    EXPECT_LT(taken, kSize / 2) << "readiness kept the loop from turning";
    peer.Release();
    closesocket(s);
}

TEST_F(DispatcherWakeUps, AHungUpSocketWithNothingLeftToReportStaysQuiet) {
    LoopbackPeer peer;
    peer.Accept().Close();
    peer.Start();
    SOCKET s = FreshSocket();
    Connect(s, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_CLOSE) > 0; }));
    // Both directions shut: the socket is hung up, whatever is asked, for as
    // long as it lives. The shutdown and the peer's answer to it are changes
    // the kernel may report, once each; the lasting hang-up is not.
    ASSERT_EQ(shutdown(s, SD_SEND), 0);
    const int turns = TurnsOf([] { DispatchFor(100ms); });
    EXPECT_LE(turns, 3) << "the hang-up kept the loop busy";
    EXPECT_EQ(Count(s, FD_CLOSE), 1u);
    closesocket(s);
}

TEST_F(DispatcherWakeUps, DataAndTheEndOfTheStreamBehindItAreToldApart) {
    LoopbackPeer peer;
    peer.Accept().WaitForRelease().Send("data").WaitForRelease().Close();
    peer.Start();
    SOCKET s = FreshSocket();
    Connect(s, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_CONNECT) == 1; }));
    peer.Release();
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_READ) == 1; }));
    char buffer[8];
    ASSERT_EQ(recv(s, buffer, sizeof buffer, 0), 4);
    peer.Release();
    // The end of the stream comes with the same readiness to read as data;
    // it is reported as the close, not as more data.
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_CLOSE) == 1; }));
    EXPECT_EQ(Count(s, FD_READ), 1u);
    closesocket(s);
}

// A child process that holds a copy of every descriptor of the test until
// it is destroyed.
class ChildHoldingDescriptors {
public:
    ChildHoldingDescriptors() {
        int gate[2] = { -1, -1 };
        if (::pipe(gate) != 0)
            return;
        m_child = ::fork();
        if (m_child == 0) {
            // Only async-signal-safe calls in the child of a threaded process.
            ::close(gate[1]);
            char byte = 0;
            while (::read(gate[0], &byte, 1) < 0 && errno == EINTR) {
            }
            ::_exit(0);
        }
        ::close(gate[0]);
        m_gate = gate[1];
    }
    ~ChildHoldingDescriptors() {
        if (m_gate >= 0)
            ::close(m_gate);
        if (m_child > 0)
            ::waitpid(m_child, nullptr, 0);
    }
    ChildHoldingDescriptors(const ChildHoldingDescriptors&) = delete;
    ChildHoldingDescriptors& operator=(const ChildHoldingDescriptors&) = delete;

    bool Started() const { return m_child > 0; }

private:
    pid_t m_child = -1;
    int m_gate = -1;
};

TEST_F(DispatcherWakeUps, AClosedSocketThatAChildStillHoldsDoesNotKeepTheLoopBusy) {
    LoopbackPeer peer;
    peer.Accept().WaitForRelease().Send("data").Close();
    peer.Start();
    SOCKET s = FreshSocket();
    Connect(s, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_CONNECT) == 1; }));
    ChildHoldingDescriptors child;
    ASSERT_TRUE(child.Started());
    closesocket(s);
    const size_t heard = m_recorder.Messages(kSocketMessage).size();
    // The child's copy becomes readable and stays so; the kernel reports
    // the changes (data, end of stream) and not the lasting readiness, or
    // it would keep the loop busy.
    const int turns = TurnsOf([&] {
        peer.Release();
        ASSERT_TRUE(peer.WaitDone());
        DispatchFor(100ms);
    });
    EXPECT_EQ(peer.Failure(), "");
    EXPECT_LE(turns, 5) << "a socket closed here kept the loop busy";
    EXPECT_EQ(m_recorder.Messages(kSocketMessage).size(), heard) << "a closed socket is not heard";
}

} // namespace
} // namespace Winsock
