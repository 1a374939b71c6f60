// How often the socket library wakes the Qt event dispatcher. A wake-up is a
// write to the dispatcher's wake-up descriptor (an eventfd): glib's main
// context writes it whenever a descriptor is added to or removed from its
// poll set and whenever an event is posted. This program counts those writes
// by standing in for write(2) itself, which the dispatcher's library calls
// through the dynamic linker; it counts the socket library's epoll_wait(2)
// calls the same way, to see whether readiness keeps coming back, its
// epoll_ctl(2) calls, and the peeks it makes to tell data from the end of a
// stream.
#include "platform/Events.h"
#include "platform/WindowRegistry.h"
#include "platform/Winsock.h"

#include "tests/platform/MessageRecorder.h"
#include "tests/support/LoopbackPeer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <poll.h>
#include <string>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> g_counting { false };
std::atomic<int> g_wakeUps { 0 };
std::atomic<int> g_epollWaits { 0 };
std::atomic<int> g_epollChanges { 0 };
std::atomic<int> g_peeks { 0 };
// Turns of the event loop: the dispatcher's polls on the counting thread.
std::atomic<int> g_turns { 0 };
std::thread::id g_countedThread;

bool IsEventDescriptor(int descriptor) {
    char link[64] = {};
    const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t length = ::readlink(path.c_str(), link, sizeof link - 1);
    return length > 0 && std::strcmp(link, "anon_inode:[eventfd]") == 0;
}

} // namespace

extern "C" ssize_t write(int descriptor, const void* data, size_t size) {
    using Write = ssize_t (*)(int, const void*, size_t);
    static const auto next = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
    if (g_counting.load() && IsEventDescriptor(descriptor))
        ++g_wakeUps;
    return next(descriptor, data, size);
}

extern "C" int epoll_wait(int epoll, struct epoll_event* events, int count, int timeout) {
    using Wait = int (*)(int, struct epoll_event*, int, int);
    static const auto next = reinterpret_cast<Wait>(::dlsym(RTLD_NEXT, "epoll_wait"));
    if (g_counting.load())
        ++g_epollWaits;
    return next(epoll, events, count, timeout);
}

extern "C" int epoll_ctl(int epoll, int operation, int descriptor, struct epoll_event* event) {
    using Control = int (*)(int, int, int, struct epoll_event*);
    static const auto next = reinterpret_cast<Control>(::dlsym(RTLD_NEXT, "epoll_ctl"));
    if (g_counting.load())
        ++g_epollChanges;
    return next(epoll, operation, descriptor, event);
}

extern "C" ssize_t recv(int descriptor, void* data, size_t size, int flags) {
    using Receive = ssize_t (*)(int, void*, size_t, int);
    static const auto next = reinterpret_cast<Receive>(::dlsym(RTLD_NEXT, "recv"));
    if (g_counting.load() && std::this_thread::get_id() == g_countedThread && (flags & MSG_PEEK))
        ++g_peeks;
    return next(descriptor, data, size, flags);
}

extern "C" int poll(struct pollfd* descriptors, nfds_t count, int timeout) {
    using Poll = int (*)(struct pollfd*, nfds_t, int);
    static const auto next = reinterpret_cast<Poll>(::dlsym(RTLD_NEXT, "poll"));
    if (g_counting.load() && std::this_thread::get_id() == g_countedThread)
        ++g_turns;
    return next(descriptors, count, timeout);
}

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
    void TearDown() override {
        g_counting = false;
        WSACleanup();
    }

    // Counts the wake-ups that the action causes.
    template <typename Action> int WakeUpsOf(Action&& action) {
        g_wakeUps = 0;
        g_epollWaits = 0;
        g_epollChanges = 0;
        g_peeks = 0;
        g_turns = 0;
        g_countedThread = std::this_thread::get_id();
        g_counting = true;
        action();
        g_counting = false;
        return g_wakeUps.load();
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
    // renewed after the one before; check(wake-ups) runs after the second and
    // the third (the first makes what lives as long as the thread), with the
    // other counters as they counted that fetch.
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
            const int wakeUps = WakeUpsOf([&] { received = Fetch(s, peer.Port()); });
            ASSERT_EQ(received, page);
            check(wakeUps);
        }
        EXPECT_TRUE(peer.WaitDone());
        EXPECT_EQ(peer.Failure(), "");
        closesocket(s);
    }

    MessageRecorder m_recorder;
};

TEST_F(DispatcherWakeUps, TheCounterSeesAPostedEvent) {
    // Without this the bound below could hold only because the dispatcher
    // wakes in a way the counter does not see.
    QObject receiver;
    const int wakeUps =
        WakeUpsOf([&] { QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User)); });
    QCoreApplication::removePostedEvents(&receiver);
    if (wakeUps == 0)
        GTEST_SKIP() << "this event dispatcher wakes without write(2)";
    EXPECT_EQ(wakeUps, 1);
}

TEST_F(DispatcherWakeUps, AnEventSetInsideTheWaitsOwnDispatchEndsItWithoutAWakeUp) {
    // The socket component's pattern: a notification handler, run by the
    // wait's dispatch, signals the event the wait is waiting for.
    EventObject event;
    int wakeUps = 0;
    DWORD result = 0;
    wakeUps = WakeUpsOf([&] {
        PostWindowTask(m_recorder.Window(), [&] { event.Set(); });
        const HANDLE handle = event.Handle();
        result = MsgWaitForMultipleObjects(1, &handle, false, 20000, QS_ALLINPUT);
    });
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_LE(wakeUps, 1) << "only the post wakes the dispatcher";

    SCOPED_TRACE("from another thread it still wakes the waiting one");
    event.Reset();
    std::thread setter;
    WakeUpsOf([&] {
        setter = std::thread([&] { event.Set(); });
        const HANDLE handle = event.Handle();
        result = MsgWaitForMultipleObjects(1, &handle, false, 20000, QS_ALLINPUT);
        setter.join();
    });
    EXPECT_EQ(result, WAIT_OBJECT_0);
}

TEST_F(DispatcherWakeUps, ASmallPageFetchOnARenewedSocketWakesAtMostFourTimes) {
    FetchRenewedPages([](int wakeUps) {
        // Connected, data, closed: one posted notification each at most; a
        // second read notification when the page arrives in two parts.
        EXPECT_LE(wakeUps, 4);
    });
}

TEST_F(DispatcherWakeUps, ASmallPageFetchIsDeliveredInTheTurnsThatFindIt) {
    // What the event loop finds it delivers in the same turn: no message is
    // posted (no wake-up), and each turn brings something new. The epoll set
    // changes as the connection goes (watched for the completion, then for
    // data, and out at the close), not once more for every notification.
    FetchRenewedPages([](int wakeUps) {
        EXPECT_EQ(wakeUps, 0);
        // Connected, data, closed; one more when the page comes in two parts.
        // A wait may also look at the epoll set itself before it turns the
        // loop.
        EXPECT_LE(g_turns.load(), 4);
        EXPECT_LE(g_epollWaits.load(), 6);
        // Added for the connect, and asked again once when the page and the
        // end of the stream come in one report (the read that takes the page
        // leaves the end of the stream, which no change will report again).
        EXPECT_LE(g_epollChanges.load(), 2);
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
    int nestedWaits = -1;
    size_t nestedReads = 0;
    m_recorder.OnMessage = [&](const RecordedMessage& m) {
        if (nestedWaits >= 0 || m.Message != kSocketMessage ||
            WSAGETSELECTEVENT(m.LParam) != FD_READ)
            return;
        WakeUpsOf([] { DispatchFor(100ms); });
        nestedWaits = g_epollWaits.load();
        nestedReads = Count(s, FD_READ);
    };
    ASSERT_TRUE(DispatchUntil([&] { return nestedWaits >= 0; }));
    m_recorder.OnMessage = nullptr;
    // The stale readiness once, and the waits' own looks at the epoll set
    // (every other wait); a dispatcher kept busy by the data makes thousands.
    EXPECT_LE(nestedWaits, 4) << "the data kept the dispatcher busy";
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
    // wait would make (the sleep's own tests show the rest).
    const std::string data = "abcdefghij";
    LoopbackPeer peer;
    peer.Accept().Send(data).WaitForRelease();
    peer.Start();
    SOCKET s = FreshSocket();
    Connect(s, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_READ) == 1; }));
    std::string received;
    WakeUpsOf([&] {
        for (size_t i = 1; i < data.size(); ++i) {
            char byte = 0;
            ASSERT_EQ(recv(s, &byte, 1, 0), 1);
            received += byte;
            ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_READ) == i + 1; }));
        }
    });
    EXPECT_EQ(received, data.substr(0, data.size() - 1));
    const int waits = static_cast<int>(data.size()) - 1;
    EXPECT_LE(g_turns.load(), waits / 2 + 1) << "readiness that is there needs no turn";
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
    const int wakeUps = WakeUpsOf([] { DispatchFor(100ms); });
    EXPECT_EQ(wakeUps, 0);
    EXPECT_LE(g_epollWaits.load(), 3) << "the hang-up kept the dispatcher busy";
    EXPECT_EQ(Count(s, FD_CLOSE), 1u);
    closesocket(s);
}

TEST_F(DispatcherWakeUps, DataJustReportedNeedsNoLookButTheEndOfTheStreamDoes) {
    LoopbackPeer peer;
    peer.Accept().WaitForRelease().Send("data").WaitForRelease().Close();
    peer.Start();
    SOCKET s = FreshSocket();
    Connect(s, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_CONNECT) == 1; }));
    peer.Release();
    WakeUpsOf([&] { ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_READ) == 1; })); });
    EXPECT_EQ(g_peeks.load(), 0) << "the kernel said data and no end of stream";
    char buffer[8];
    ASSERT_EQ(recv(s, buffer, sizeof buffer, 0), 4);
    peer.Release();
    // The end of the stream comes with the same readiness to read as data;
    // the close is told from data by a look.
    WakeUpsOf([&] { ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_CLOSE) == 1; })); });
    EXPECT_EQ(g_peeks.load(), 1);
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

TEST_F(DispatcherWakeUps, AClosedSocketLeavesTheEpollSetWithoutACallEvenWhenAChildHoldsIt) {
    LoopbackPeer peer;
    peer.Accept().Accept().WaitForRelease().Send("data").Close();
    peer.Start();

    SCOPED_TRACE("no child: closing the descriptor takes it out");
    SOCKET s = FreshSocket();
    Connect(s, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_CONNECT) == 1; }));
    WakeUpsOf([&] { closesocket(s); });
    EXPECT_EQ(g_epollChanges.load(), 0);

    SCOPED_TRACE("a child holds the socket, so it stays in the epoll set");
    s = FreshSocket();
    Connect(s, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return Count(s, FD_CONNECT) == 1; }));
    ChildHoldingDescriptors child;
    ASSERT_TRUE(child.Started());
    WakeUpsOf([&] { closesocket(s); });
    EXPECT_EQ(g_epollChanges.load(), 0);
    // The child's copy becomes readable and stays so; the kernel reports
    // the changes (data, end of stream) and not the lasting readiness, or
    // it would keep the dispatcher busy.
    WakeUpsOf([&] {
        peer.Release();
        ASSERT_TRUE(peer.WaitDone());
        DispatchFor(100ms);
    });
    EXPECT_EQ(peer.Failure(), "");
    EXPECT_LE(g_epollWaits.load(), 5) << "a socket closed here kept the dispatcher busy";
}

} // namespace
} // namespace Winsock
