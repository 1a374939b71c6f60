#include "tests/net/TslinkTestSupport.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/LoopbackSockets.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <sys/resource.h>

namespace {

std::vector<std::string> ConnectReports(bool viaLookup) {
    std::vector<std::string> reports { "Connecting", "Resolve Host" };
    if (viaLookup)
        reports.insert(reports.end(), { "Timer On", "Timer Off" });
    reports.insert(reports.end(), { "Timer On", "Timer Off" });
    return reports;
}

// A peer to connect to: it takes the given number of connections one after
// another and reads each until the component closes it.
class ReadingPeer : public LoopbackPeer {
public:
    explicit ReadingPeer(int connections = 1) {
        for (int i = 0; i < connections; ++i)
            Accept().ReadToEnd();
        Start();
    }
};

// Connects to host:port under a time limit of 300 ms, which must end the
// attempt with the message, and not before the limit. Returns what the
// component reported from the time-out on.
std::vector<std::string> ExpectConnectTimesOut(TTessalink& component, const std::string& host,
                                               std::uint16_t port, const std::string& message) {
    component.ReportLevel = 8;
    StatusLog log;
    log.Attach(component);
    component.TimeOut = 300;
    component.Host = host;
    component.Port = port;
    const auto started = std::chrono::steady_clock::now();
    ExpectRaises<ESockError>([&] { component.Connect(); }, message);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms);
    component.OnStatus = nullptr;
    return log.From("Timer Triggered");
}

// A component connected to a peer that closes the connection once released;
// it counts the component's OnDisconnect events.
struct ConnectionThePeerCloses {
    ConnectionThePeerCloses() {
        peer.Accept().WaitForRelease().Close();
        peer.Start();
        component.OnDisconnect = [this](TComponent*) { ++disconnects; };
        ConnectTo(component, peer.Port());
    }

    LoopbackPeer peer;
    TTessalink component { nullptr };
    int disconnects = 0;
};

// Receives a posted GUI event, as a button would receive a click.
class ClickTarget : public QObject {
public:
    std::function<void()> OnClick;
    bool event(QEvent* event) override {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        if (OnClick)
            OnClick();
        return true;
    }
};

} // namespace

TEST_F(TslinkTest, ConnectsToDottedAddressWithoutLookupAndToNamesThroughIt) {
    ReadingPeer peer(2);
    TTessalink component(nullptr);
    component.ReportLevel = 8;
    StatusLog log;
    log.Attach(component);
    int resolved = 0;
    component.OnHostResolved = [&](TComponent*) { ++resolved; };

    ConnectTo(component, peer.Port());
    EXPECT_TRUE(component.Connected);
    EXPECT_EQ(log.Texts, ConnectReports(false));
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(Resolver->Lookups, 0);
    component.Disconnect();

    log.Texts.clear();
    component.Host = "peer.test";
    component.Connect();
    EXPECT_TRUE(component.Connected);
    EXPECT_EQ(log.Texts, ConnectReports(true));
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(component.RemoteAddress.sin_addr.s_addr, Winsock::htonl(Winsock::INADDR_LOOPBACK));
    component.Disconnect();
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Failure(), "");
}

// One component resolving one host after another: each dotted address is
// its own text's, a name is looked up, the proxy's address wins while one
// is set.
TEST_F(TslinkTest, EachResolutionGivesItsOwnHostsAddress) {
    TTessalink component(nullptr);
    const auto resolve = [&](const std::string& host, const std::string& proxy) {
        component.Host = host;
        component.Proxy = proxy;
        component.ResolveRemoteHost();
        return component.RemoteAddress.sin_addr.s_addr;
    };
    const auto address = [](const char* dotted) { return Winsock::inet_addr(dotted); };
    EXPECT_EQ(resolve("127.0.0.1", ""), address("127.0.0.1"));
    EXPECT_EQ(resolve("127.0.0.2", ""), address("127.0.0.2"));
    EXPECT_EQ(resolve("127.0.0.1", ""), address("127.0.0.1"));
    EXPECT_EQ(resolve("127.0.0.1", "127.0.0.3"), address("127.0.0.3"));
    EXPECT_EQ(resolve("127.1", ""), address("127.0.0.1"));
    EXPECT_EQ(resolve("0.0.0.0", ""), 0u);
    EXPECT_EQ(Resolver->Lookups, 0);
    EXPECT_EQ(resolve("peer.test", ""), address("127.0.0.1"));
    EXPECT_EQ(Resolver->Lookups, 1);
    component.Host = "nowhere.test";
    ExpectRaises<ESockError>([&] { component.ResolveRemoteHost(); }, "Host Lookup Failed");
    EXPECT_EQ(component.RemoteAddress.sin_addr.s_addr, 0u);
    EXPECT_EQ(resolve("127.0.0.2", ""), address("127.0.0.2"));
}

// The "don't linger" option is one the socket library takes and ignores:
// setting it leaves the library's last error alone, and without a socket
// it fails as the library's call does.
TEST_F(TslinkTest, DontLingerOffChangesNothingButTheErrorOfAMissingSocket) {
    TTessalink component(nullptr);
    Winsock::WSASetLastError(1234);
    component.DontLingerOff();
    EXPECT_EQ(Winsock::WSAGetLastError(), 1234);
    const uint16_t socket = component.SocketHandle.Release();
    component.DontLingerOff();
    EXPECT_EQ(Winsock::WSAGetLastError(), Winsock::WSAENOTSOCK);
    component.SocketHandle.Reset(socket);
}

TEST_F(TslinkTest, HostWithoutAddressAsksOnInvalidHostOnce) {
    ReadingPeer peer;
    TTessalink component(nullptr);
    component.Port = peer.Port();

    for (const char* host : { "0.0.0.0", "nowhere.test" }) {
        SCOPED_TRACE(host);
        component.Host = host;
        ExpectRaises<ESockError>([&] { component.Connect(); }, "Null Remote Address");

        int asked = 0;
        component.OnInvalidHost = [&](bool& handled) {
            ++asked;
            handled = true; // but Host stays as it is
        };
        ExpectRaises<ESockError>([&] { component.Connect(); }, "Null Remote Address");
        EXPECT_EQ(asked, 1);

        asked = 0;
        component.OnInvalidHost = [&](bool&) { ++asked; };
        ExpectRaises<ESockError>([&] { component.Connect(); }, "Null Remote Address");
        EXPECT_EQ(asked, 1);
        component.OnInvalidHost = nullptr;
    }

    // A handler that corrects the host gets its retry.
    component.Host = "nowhere.test";
    component.OnInvalidHost = [&](bool& handled) {
        component.Host = "peer.test";
        handled = true;
    };
    component.Connect();
    EXPECT_TRUE(component.Connected);
    component.Disconnect();
    EXPECT_TRUE(peer.WaitDone());
}

TEST_F(TslinkTest, NameTooLongForTheWorkAreaIsRefusedBeforeAnyLookup) {
    TTessalink component(nullptr);
    component.Host = std::string(65537, 'a');
    component.Port = 80;
    ExpectRaises<ESockError>([&] { component.Connect(); }, "Null Remote Address");
    EXPECT_EQ(Resolver->Lookups, 0);
}

TEST_F(TslinkTest, OnlyTheLowSixteenBitsOfThePortCount) {
    ReadingPeer peer(2);
    TTessalink component(nullptr);
    component.Host = "127.0.0.1";
    component.Port = peer.Port() + 65536;
    component.Connect();
    EXPECT_TRUE(component.Connected);
    EXPECT_EQ(Winsock::ntohs(component.RemoteAddress.sin_port), peer.Port());
    component.Disconnect();

    // Through a proxy, the proxy's port counts the same way.
    component.Host = "not.looked.up";
    component.Proxy = "127.0.0.1";
    component.Port = 1;
    component.ProxyPort = peer.Port() + 3 * 65536;
    component.Connect();
    EXPECT_TRUE(component.Connected);
    component.Disconnect();
    EXPECT_EQ(Resolver->Lookups, 0);
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.AcceptedCount(), 2);
}

TEST_F(TslinkTest, RefusedConnectionFailsAtOnce) {
    TTessalink component(nullptr);
    int failed = 0;
    component.OnConnectionFailed = [&](TComponent* sender) {
        EXPECT_EQ(sender, &component);
        ++failed;
    };
    for (int timeOut : { 0, 5000 }) {
        component.TimeOut = timeOut;
        component.Host = "127.0.0.1";
        component.Port = LoopbackPeer::UnusedPort();
        ExpectRaises<ESockError>([&] { component.Connect(); }, "Connection Failed");
        EXPECT_FALSE(component.Connected);
        EXPECT_FALSE(component.TimedOut);
    }
    EXPECT_EQ(failed, 2);

    // The component is still usable.
    ReadingPeer peer;
    ConnectTo(component, peer.Port());
    EXPECT_TRUE(component.Connected);
}

TEST_F(TslinkTest, ConnectAttemptThatNeverCompletesTimesOut) {
    BacklogFullListener silent;
    TTessalink component(nullptr);
    int failed = 0;
    component.OnConnectionFailed = [&](TComponent*) { ++failed; };
    const std::vector<std::string> reported =
        ExpectConnectTimesOut(component, "127.0.0.1", silent.Port(), "Connection Timed out");
    EXPECT_TRUE(component.TimedOut);
    EXPECT_TRUE(component.Canceled);
    EXPECT_FALSE(component.Connected);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(reported, (std::vector<std::string> { "Timer Triggered", "Timer Off", "Abort",
                                                    "Canceling", "Timer Off", "Disconnecting" }));

    // The abandoned attempt does not linger on the socket: the next Connect
    // starts afresh and is not stopped by the old cancel.
    ReadingPeer peer;
    ConnectTo(component, peer.Port());
    EXPECT_TRUE(component.Connected);
    EXPECT_FALSE(component.Canceled);
}

TEST_F(TslinkTest, LookupThatNeverAnswersTimesOut) {
    TTessalink component(nullptr);
    int failed = 0;
    component.OnConnectionFailed = [&](TComponent*) { ++failed; };
    const std::vector<std::string> reported =
        ExpectConnectTimesOut(component, Resolver->HangingName, 80, "Host Lookup Timed Out");
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(reported, (std::vector<std::string> { "Timer Triggered", "Timer Off", "Abort",
                                                    "Canceling", "Timer Off" }));

    // The abandoned lookup answers nothing into a later one.
    Resolver->Release();
    ReadingPeer peer;
    component.Host = "peer.test";
    component.Port = peer.Port();
    component.Connect();
    EXPECT_TRUE(component.Connected);
}

TEST_F(TslinkTest, CancelFromAHandlerEndsEachConnectWait) {
    TTessalink component(nullptr);
    component.TimeOut = 0; // only the cancel can end these waits
    const auto cancelSoon = [&] { QTimer::singleShot(20, [&] { component.Cancel(); }); };

    // The lookup wait.
    component.Host = Resolver->HangingName;
    component.Port = 80;
    cancelSoon();
    ExpectRaises<ESockError>([&] { component.Connect(); }, "Host Lookup Canceled");

    // The connection wait, canceled through Abort.
    BacklogFullListener silent;
    component.Host = "127.0.0.1";
    component.Port = silent.Port();
    int failed = 0;
    component.OnConnectionFailed = [&](TComponent*) { ++failed; };
    QTimer::singleShot(20, [&] { component.Abort(); });
    ExpectRaises<ESockError>([&] { component.Connect(); }, "Connection Canceled");
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(component.TimedOut);
}

TEST_F(TslinkTest, UserInterfaceEventsAreHandledDuringAConnectWait) {
    BacklogFullListener silent;
    TTessalink component(nullptr);
    component.Host = "127.0.0.1";
    component.Port = silent.Port();
    ClickTarget button;
    bool clicked = false;
    button.OnClick = [&] {
        clicked = true;
        component.Cancel();
    };
    component.OnStatus = [&](TComponent*, const std::string& status) {
        // Posted once the connection wait is about to begin.
        if (status == "Timer On")
            QCoreApplication::postEvent(&button, new QEvent(QEvent::User));
    };
    component.ReportLevel = 8;
    ExpectRaises<ESockError>([&] { component.Connect(); }, "Connection Canceled");
    EXPECT_TRUE(clicked);
}

TEST_F(TslinkTest, ConnectWhileConnectedClearsInputAndRefuses) {
    LoopbackPeer peer;
    peer.Accept().Send("hello\r\n").ReadToEnd();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return component.InputBuffer->Count() == 7; }));

    ExpectRaises<ESockError>([&] { component.Connect(); }, "Already connected");
    EXPECT_EQ(component.InputBuffer->Count(), 0);
    EXPECT_TRUE(component.Connected);
    component.Disconnect();
    EXPECT_TRUE(peer.WaitDone());
}

TEST_F(TslinkTest, DisconnectClosesOnlyALiveConnection) {
    ReadingPeer peer;
    TTessalink component(nullptr);
    int disconnects = 0;
    component.OnDisconnect = [&](TComponent*) { ++disconnects; };
    StatusLog log;
    log.Attach(component);
    component.ReportLevel = 8;

    const uint16_t idleSocket = component.SocketHandle;
    component.Disconnect();
    EXPECT_EQ(log.Texts, std::vector<std::string> { "Disconnecting" });
    EXPECT_EQ(component.SocketHandle, idleSocket);
    EXPECT_EQ(disconnects, 0);

    ConnectTo(component, peer.Port());
    const uint16_t connectedSocket = component.SocketHandle;
    log.Texts.clear();
    component.ReportLevel = 4;
    component.Disconnect();
    EXPECT_EQ(log.Texts, std::vector<std::string> { "Request Close Socket" });
    EXPECT_FALSE(component.Connected);
    EXPECT_EQ(disconnects, 1);
    EXPECT_NE(component.SocketHandle, connectedSocket);
    EXPECT_NE(component.SocketHandle, NoSocket);
    EXPECT_TRUE(peer.WaitDone());
}

TEST_F(TslinkTest, PeerCloseFiresOnDisconnectTwiceAndLeavesAFreshSocket) {
    ConnectionThePeerCloses connection;
    auto& [peer, component, disconnects] = connection;
    const uint16_t connectedSocket = component.SocketHandle;
    peer.Release();

    ASSERT_TRUE(DispatchUntil([&] { return disconnects == 2; }));
    EXPECT_FALSE(component.Connected);
    EXPECT_NE(component.SocketHandle, connectedSocket);
    EXPECT_NE(component.SocketHandle, NoSocket);

    // The fresh socket connects again.
    ReadingPeer next;
    ConnectTo(component, next.Port());
    EXPECT_TRUE(component.Connected);
}

namespace {

// Runs in a child process, whose open-file limit it lowers: the connection
// is closed, no socket can follow, and the component must hold none rather
// than the closed one. Exits 0 with "renewed" on stderr when all went well.
// Nothing waits for messages under the limit: the sanitizers' own checks need
// descriptors there.
[[noreturn]] void RenewAtTheOpenFileLimit() {
    const auto check = [](bool holds, const char* what) {
        if (!holds) {
            std::fprintf(stderr, "failed: %s\n", what);
            std::_Exit(1);
        }
    };
    // Every descriptor number below the limit is taken, so everything made
    // from here on lies above it: once the limit is set, the open ones go on
    // working, a closed one cannot be made again, and no new one is made.
    constexpr int limit = 256;
    for (int fd = ::open("/dev/null", O_RDONLY); fd < limit; fd = ::open("/dev/null", O_RDONLY))
        check(fd >= 0, "the descriptors below the limit");
    LoopbackPeer peer;
    peer.Accept().ReadToEnd().Accept().Expect("after");
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    // The peer's thread is under way (a thread's start is checked too).
    check(DispatchUntil([&] { return peer.AcceptedCount() == 1; }), "the peer's accept");

    // The undefined-behaviour sanitizer checks the type of the first error
    // of each class made, and needs a descriptor for that: one is made here.
    [[maybe_unused]] const ESockError first(TSockFailure::Socket, "");

    rlimit saved {};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = limit;
    check(setrlimit(RLIMIT_NOFILE, &lowered) == 0, "setrlimit");
    component.Disconnect();
    const bool closedToNone = !component.Connected && component.SocketHandle == NoSocket;
    std::exception_ptr failure;
    try {
        component.Connect();
    } catch (...) {
        failure = std::current_exception();
    }
    const bool stillNone = component.SocketHandle == NoSocket;
    setrlimit(RLIMIT_NOFILE, &saved);

    check(closedToNone, "no socket after the close");
    check(stillNone, "no socket after the failed Connect");
    try {
        if (failure)
            std::rethrow_exception(failure);
        check(false, "Connect without a socket");
    } catch (const ESockError& error) {
        check(error.Message() == "10024:Too many open files", error.Message().c_str());
    }
    component.Connect();
    check(component.Connected && component.SocketHandle != NoSocket, "connected again");
    component.Write("after");
    check(peer.WaitDone() && peer.Failure().empty(), "the peer got its bytes");
    std::fprintf(stderr, "renewed\n");
    std::_Exit(0);
}

} // namespace

TEST(TslinkSocketLimitDeathTest, NoSocketAfterACloseAtTheOpenFileLimitThenConnectMakesOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RenewAtTheOpenFileLimit(), ::testing::ExitedWithCode(0), "renewed");
}

TEST_F(TslinkTest, PeerThatClosesAtOnceDoesNotHoldConnect) {
    LoopbackPeer peer;
    peer.Accept().Close();
    peer.Start();
    TTessalink component(nullptr);
    component.ReportLevel = 8;
    // Hold the thread until the peer has accepted and closed, so that the
    // completion and the close are dispatched together in the first wait.
    component.OnStatus = [&](TComponent*, const std::string& status) {
        if (status == "Timer On") {
            ASSERT_TRUE(peer.WaitDone());
        }
    };
    ConnectTo(component, peer.Port());
    EXPECT_FALSE(component.TimedOut);
    ASSERT_TRUE(DispatchUntil([&] { return !component.Connected; }));
}

TEST_F(TslinkTest, DataAvailableNoticesAPeerClose) {
    ConnectionThePeerCloses connection;
    auto& [peer, component, disconnects] = connection;
    EXPECT_FALSE(component.DataAvailable());

    peer.Release();
    ASSERT_TRUE(peer.WaitDone());
    // No message has been dispatched since: the peek finds the close.
    EXPECT_TRUE(component.DataAvailable());
    EXPECT_FALSE(component.Connected);
    EXPECT_EQ(disconnects, 2);
    EXPECT_FALSE(component.DataAvailable());
}

TEST_F(TslinkTest, EventWindowHandsOnMessagesFrom1125Up) {
    TTessalink component(nullptr);
    const LPARAM refused = Winsock::WSAMAKESELECTREPLY(0, 10061);
    component.LastEventOk = true;

    SendMessage(component.EventWindow(), 1124, 0, refused);
    EXPECT_TRUE(component.LastEventOk);
    SendMessage(component.EventWindow(), 1127, 0, refused);
    EXPECT_FALSE(component.LastEventOk);
    SendMessage(component.EventWindow(), 1127, 0, 0);
    EXPECT_TRUE(component.LastEventOk);
    EXPECT_FALSE(component.AsyncDone);
    EXPECT_FALSE(component.Connected);
    EXPECT_FALSE(component.WaitEvent->IsSet());

    // 1126 always ends a wait; with event code 8 it reports a connection.
    int connects = 0;
    component.OnConnect = [&](TComponent*) { ++connects; };
    SendMessage(component.EventWindow(), LookupDoneMessage, 0, Winsock::WSAMAKEASYNCREPLY(100, 0));
    EXPECT_TRUE(component.AsyncDone);
    EXPECT_TRUE(component.WaitEvent->IsSet());
    EXPECT_FALSE(component.Connected);
    SendMessage(component.EventWindow(), LookupDoneMessage, 0,
                Winsock::WSAMAKESELECTREPLY(Winsock::FD_ACCEPT, 0));
    EXPECT_TRUE(component.Connected);
    EXPECT_EQ(connects, 1);
}

TEST_F(TslinkTest, ReportLevelFiltersStatusReports) {
    for (int level : { 0, -1 }) {
        SCOPED_TRACE(level);
        ReadingPeer peer;
        TTessalink component(nullptr);
        component.ReportLevel = level;
        int reports = 0;
        component.OnStatus = [&](TComponent*, const std::string&) { ++reports; };
        ConnectTo(component, peer.Port());
        component.Writeln("GET / HTTP/1.0");
        component.Disconnect();
        EXPECT_EQ(reports, 0);
        EXPECT_EQ(component.StatusText, "");
    }
    TTessalink component(nullptr);
    component.ReportLevel = 8;
    component.Cancel();
    EXPECT_EQ(component.StatusText, "Canceling");
}

TEST_F(TslinkTest, DestroyingComponentsReleasesEverything) {
    // A component that connected, one in the middle of a lookup that has not
    // answered, and one that was never used: none may leak or crash.
    ReadingPeer peer;
    {
        auto connected = std::make_unique<TTessalink>(nullptr);
        ConnectTo(*connected, peer.Port());
        int disconnects = 0;
        connected->OnDisconnect = [&](TComponent*) { ++disconnects; };
        connected.reset();
        EXPECT_EQ(disconnects, 0);
    }
    EXPECT_TRUE(peer.WaitDone());

    auto looking = std::make_unique<TTessalink>(nullptr);
    ASSERT_NE(Winsock::WSAAsyncGetHostByName(
                  looking->EventWindow(), LookupDoneMessage, Resolver->HangingName.c_str(),
                  looking->HostEntryBuffer.get(), Winsock::MAXGETHOSTSTRUCT),
              0u);
    looking.reset();
    Resolver->Release();
    // Whatever the late answer does, it must not reach the freed component.
    TTessalink witness(nullptr);
    witness.Host = "peer.test";
    witness.Port = LoopbackPeer::UnusedPort();
    ExpectRaises<ESockError>([&] { witness.Connect(); }, "Connection Failed");

    TTessalink unused(nullptr);
}

TEST_F(TslinkTest, WinsockInfoDescribesTheLibrary) {
    TTessalink component(nullptr);
    ASSERT_EQ(component.WinsockInfo->Count(), 6);
    EXPECT_EQ((*component.WinsockInfo)[0], "Version= 1.1");
    EXPECT_EQ((*component.WinsockInfo)[1].rfind("High Version= ", 0), 0u);
    EXPECT_EQ((*component.WinsockInfo)[2].rfind("Description= ", 0), 0u);
    EXPECT_EQ((*component.WinsockInfo)[3].rfind("System= ", 0), 0u);
    EXPECT_EQ((*component.WinsockInfo)[4].rfind("Max Sockets= ", 0), 0u);
    EXPECT_EQ((*component.WinsockInfo)[5].rfind("Max Udp pack size= ", 0), 0u);
    EXPECT_NE(component.SocketHandle, NoSocket);
    EXPECT_EQ(component.TimeOut, 0);
    EXPECT_EQ(component.ReportLevel, 0);
}

TEST_F(TslinkTest, ComponentInADesignerOpensNothing) {
    TComponent designer(nullptr);
    designer.SetDesigning(true);
    TTessalink component(&designer);
    EXPECT_EQ(component.SocketHandle, NoSocket);
    EXPECT_EQ(component.InputBuffer, nullptr);
}
