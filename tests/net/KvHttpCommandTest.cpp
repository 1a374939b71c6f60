// Whole commands of TKvHTTP: redirects and cookies across passes, the order
// of events, file mode, and how a time limit or Abort ends each phase.
#include "net/KvHttp.h"
#include "platform/HostResolver.h"
#include "tests/support/KvHttpWire.h"
#include "tests/support/LoopbackPeer.h"
#include "toolkit/runtime/TMemoryStream.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

using KvHttpWire::HostOf;
using KvHttpWire::Request;
using KvHttpWire::Url;

namespace {

// Records the component's events by name, in the order they fire.
struct EventLog {
    std::vector<std::string> events;

    void Attach(TKvHTTP& http) {
        http.OnAboutToSend = [this](TComponent*) { events.push_back("about"); };
        http.OnSuccess = [this](CmdType cmd) {
            events.push_back("success:" + std::to_string(cmd));
        };
        http.OnFailure = [this](CmdType cmd) {
            events.push_back("failure:" + std::to_string(cmd));
        };
        http.OnRedirect = [this](bool&) { events.push_back("redirect"); };
        http.OnAuthenticationNeeded = [this](TComponent*) { events.push_back("auth"); };
        http.OnDisconnect = [this](TComponent*) { events.push_back("disconnect"); };
    }
};

std::string ReadFile(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Makes a temporary directory the current one for the life of the object.
class InTemporaryDirectory {
public:
    InTemporaryDirectory() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~InTemporaryDirectory() { QDir::setCurrent(m_previous); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// The message of the ESockError that call raises, "abort: " in front for an
// EAbortError; "" when it returns normally.
std::string ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EAbortError& error) {
        return "abort: " + error.Message();
    } catch (const ESockError& error) {
        return error.Message();
    }
    return "";
}

// A name service for the lookup cases: "peer.test" is 127.0.0.1, and
// "slow.test" answers only once released, with 127.0.0.3, where nothing
// listens. No query leaves the process.
class SlowResolver : public HostResolver {
public:
    HostLookupResult Resolve(const std::string& name) override {
        HostLookupResult result;
        if (name == "slow.test") {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_released; });
            result.addresses.push_back({ 127, 0, 0, 3 });
            m_slowAnswered = true;
            m_changed.notify_all();
            return result;
        }
        if (name == "peer.test") {
            result.addresses.push_back({ 127, 0, 0, 1 });
            return result;
        }
        result.error = 11001;
        return result;
    }

    // Lets the slow lookup answer and waits, without dispatching anything,
    // until it has.
    bool ReleaseAndWait() {
        std::unique_lock lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
        return m_changed.wait_for(lock, std::chrono::seconds(30),
                                  [this] { return m_slowAnswered; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_released = false;
    bool m_slowAnswered = false;
};

struct RedirectCase {
    const char* name;
    std::function<void(TKvHTTP&, const std::string& base)> call;
    std::string firstResponse;
    size_t firstBodyBytes;
    std::string secondRequestLine;
};

} // namespace

TEST(KvHttpCommand, RedirectsFetchTheNextLocationWithGet) {
    const std::vector<RedirectCase> rows = {
        { "302 to an absolute location after Post",
          [](TKvHTTP& h, const std::string& b) { h.Post(b + "/old.htm", "a=1&b=2"); },
          "HTTP/1.0 302 Found\r\nLocation: {base}/new.htm\r\n\r\nmoved", 7,
          "GET /new.htm HTTP/1.0" },
        { "a relative location completes from the directory",
          [](TKvHTTP& h, const std::string& b) { h.Get(b + "/dir/old.htm"); },
          "HTTP/1.0 302 Found\r\nLocation: new.htm\r\n\r\n", 0, "GET /dir/new.htm HTTP/1.0" },
        { "a location from the root keeps the server",
          [](TKvHTTP& h, const std::string& b) { h.Get(b + "/dir/old.htm"); },
          "HTTP/1.0 301 Moved\r\nLocation: /root.htm\r\n\r\n", 0, "GET /root.htm HTTP/1.0" },
        { "303 after Post fetches its location",
          [](TKvHTTP& h, const std::string& b) { h.Post(b + "/form", "x"); },
          "HTTP/1.0 303 See Other\r\nLocation: /elsewhere\r\n\r\n", 1, "GET /elsewhere HTTP/1.0" },
        { "307 fetches its location",
          [](TKvHTTP& h, const std::string& b) { h.Post(b + "/form", "x"); },
          "HTTP/1.0 307 Temporary Redirect\r\nLocation: {base}/t.htm\r\n\r\n", 1,
          "GET /t.htm HTTP/1.0" },
        { "308 fetches its location",
          [](TKvHTTP& h, const std::string& b) { h.Get(b + "/dir/old.htm"); },
          "HTTP/1.0 308 Permanent Redirect\r\nLocation: p.htm\r\n\r\n", 0,
          "GET /dir/p.htm HTTP/1.0" },
    };
    unsigned seed = 1;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackPeer peer;
        const std::string base = Url(peer, "");
        std::string first = row.firstResponse;
        if (const auto at = first.find("{base}"); at != std::string::npos)
            first.replace(at, 6, base);
        KvHttpWire::AnswerOnce(peer, first, seed++, row.firstBodyBytes);
        KvHttpWire::AnswerOnce(peer, "HTTP/1.0 200 OK\r\n\r\nnew page", seed++);
        peer.Start();
        TKvHTTP http;
        http.TimeOut = 20000;
        std::vector<CmdType> successes;
        http.OnSuccess = [&](CmdType cmd) { successes.push_back(cmd); };
        row.call(http, base);
        ASSERT_TRUE(peer.WaitDone());
        const std::string received = peer.Received();
        const size_t firstEnd = received.find("\r\n\r\n") + 4 + row.firstBodyBytes;
        EXPECT_EQ(received.substr(firstEnd), Request(HostOf(peer), row.secondRequestLine));
        EXPECT_EQ(http.ReplyCode, 200);
        EXPECT_EQ(http.Body, "new page");
        EXPECT_EQ(http.Command(), CmdGET);
        EXPECT_EQ(successes, std::vector<CmdType> { CmdGET });
    }
}

// A 3xx that names no next URL is an answer, not a redirect: one pass, its
// status in ReplyCode, no repeat of the same URL.
TEST(KvHttpCommand, RedirectsWithoutANextLocationEndTheCommand) {
    const std::vector<std::string> rows = {
        "HTTP/1.0 302 Found\r\n",
        "HTTP/1.0 301 Moved\r\nX-A: b\r\n",
        "HTTP/1.0 303 See Other\r\n",
        "HTTP/1.0 307 Temporary Redirect\r\n",
        "HTTP/1.0 308 Permanent Redirect\r\n",
        "HTTP/1.0 300 Multiple Choices\r\nLocation: /a.htm\r\n",
        "HTTP/1.0 304 Not Modified\r\nLocation: /a.htm\r\n",
        "HTTP/1.0 305 Use Proxy\r\nLocation: http://127.0.0.1:1/\r\n",
        "HTTP/1.0 399 Odd\r\nLocation: /a.htm\r\n",
    };
    unsigned seed = 1;
    for (const auto& head : rows) {
        SCOPED_TRACE(head);
        LoopbackPeer peer;
        KvHttpWire::AnswerOnce(peer, head + "\r\npage", seed++);
        peer.Start();
        TKvHTTP http;
        http.TimeOut = 20000;
        EventLog log;
        log.Attach(http);
        http.Get(Url(peer, "/dir/old.htm"));
        EXPECT_EQ(http.ReplyCode, std::stoi(head.substr(9, 3)));
        EXPECT_EQ(http.Body, "page");
        EXPECT_EQ(http.CurrentURL(), Url(peer, "/dir/old.htm"));
        // Neither a redirect nor a success or a failure; the closes are not
        // counted, as the server closes too.
        log.events.erase(std::remove(log.events.begin(), log.events.end(), "disconnect"),
                         log.events.end());
        EXPECT_EQ(log.events, std::vector<std::string> { "about" });
        ASSERT_TRUE(peer.WaitDone());
        EXPECT_EQ(peer.AcceptedCount(), 1);
    }
}

TEST(KvHttpCommand, CookieAndEventsAcrossARedirect) {
    // Both peers hold their connection open, so every close is the
    // component's own and the event order is exact.
    LoopbackPeer second;
    second.Accept()
        .ReadUntil("\r\n\r\n")
        .SendInPieces("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ndone", 5)
        .Stall();
    second.Start();
    LoopbackPeer first;
    first.Accept()
        .ReadUntil("\r\n\r\n")
        .SendInPieces("HTTP/1.0 302 Found\r\nSet-Cookie: id=5; path=/\r\nLocation: " +
                          Url(second, "/new.htm") + "\r\nContent-Length: 0\r\n\r\n",
                      6)
        .Stall();
    first.Start();

    TKvHTTP http;
    EventLog log;
    log.Attach(http);
    http.Get(Url(first, "/old.htm"));
    EXPECT_EQ(log.events, (std::vector<std::string> { "about", "disconnect", "redirect", "about",
                                                      "success:0", "disconnect" }));
    EXPECT_EQ(http.HeaderInfo.Cookie, "id=5");
    EXPECT_EQ(http.CurrentURL(), Url(second, "/new.htm"));
    EXPECT_EQ(http.Body, "done");
    first.Stop();
    second.Stop();
    ASSERT_TRUE(second.WaitDone());
    // The cookie came from the first server and stays with it.
    EXPECT_EQ(second.Received(), Request(HostOf(second), "GET /new.htm HTTP/1.0"));
}

// What a server set and what a URL brought go back only where they came
// from, across two loopback hosts: the cookie to its host and port, the
// credentials to their host; what the caller set goes everywhere.
TEST(KvHttpCommand, CookieAndCredentialsStayWithTheirHost) {
    LoopbackPeer first("127.0.0.1");
    LoopbackPeer second("127.0.0.2");
    KvHttpWire::AnswerOnce(first, "HTTP/1.0 302 Found\r\nSet-Cookie: id=5; path=/\r\nLocation: " +
                                      Url(second, "/b") + "\r\n\r\n");
    KvHttpWire::AnswerOnce(first, "HTTP/1.0 200 OK\r\n\r\nback home");
    KvHttpWire::AnswerOnce(second,
                           "HTTP/1.0 302 Found\r\nLocation: " + Url(first, "/c") + "\r\n\r\n");
    KvHttpWire::AnswerOnce(second, "HTTP/1.0 200 OK\r\n\r\nlater");
    KvHttpWire::AnswerOnce(second, "HTTP/1.0 200 OK\r\n\r\nmine");
    first.Start();
    second.Start();

    TKvHTTP http;
    http.TimeOut = 20000;
    http.Get("http://user:secret@" + HostOf(first) + "/a");
    EXPECT_EQ(http.Body, "back home");
    EXPECT_EQ(http.HeaderInfo.Cookie, "id=5");
    http.Get(Url(second, "/d"));
    EXPECT_EQ(http.Body, "later");
    http.HeaderInfo.Cookie = "mine=1";
    http.Get(Url(second, "/e"));
    EXPECT_EQ(http.Body, "mine");

    ASSERT_TRUE(first.WaitDone());
    ASSERT_TRUE(second.WaitDone());
    const std::string authorization = "Authorization: Basic dXNlcjpzZWNyZXQ=";
    EXPECT_EQ(first.Received(),
              Request(HostOf(first), "GET /a HTTP/1.0", { authorization }) +
                  Request(HostOf(first), "GET /c HTTP/1.0", { "Cookie: id=5", authorization }));
    EXPECT_EQ(second.Received(),
              Request(HostOf(second), "GET /b HTTP/1.0") +
                  Request(HostOf(second), "GET /d HTTP/1.0") +
                  Request(HostOf(second), "GET /e HTTP/1.0", { "Cookie: mine=1" }));
}

// A control byte in a cookie is dropped, not sent: a NUL must not cut the
// request head, in the redirect's pass or in any later command.
TEST(KvHttpCommand, ControlBytesInACookieNeverCutALaterRequest) {
    LoopbackPeer peer;
    KvHttpWire::AnswerOnce(peer, "HTTP/1.0 302 Found\r\nSet-Cookie: id=a" + std::string(1, '\0') +
                                     "b\x01\tc; path=/\r\nLocation: /next\r\n\r\n");
    KvHttpWire::AnswerOnce(peer, "HTTP/1.0 200 OK\r\n\r\nnext");
    KvHttpWire::AnswerOnce(peer, "HTTP/1.0 200 OK\r\n\r\nlater");
    peer.Start();
    TKvHTTP http;
    http.TimeOut = 20000;
    http.Get(Url(peer, "/first"));
    EXPECT_EQ(http.Body, "next");
    http.Get(Url(peer, "/later"));
    EXPECT_EQ(http.Body, "later");
    ASSERT_TRUE(peer.WaitDone());
    const std::string host = HostOf(peer);
    EXPECT_EQ(peer.Received(), Request(host, "GET /first HTTP/1.0") +
                                   Request(host, "GET /next HTTP/1.0", { "Cookie: id=ab\tc" }) +
                                   Request(host, "GET /later HTTP/1.0", { "Cookie: id=ab\tc" }));
}

TEST(KvHttpCommand, StatusClassesAndTheirEvents) {
    struct Row {
        const char* name;
        std::string status;
        std::vector<std::string> events;
        bool completedReported;
    };
    const std::vector<std::string> success = { "about", "success:0", "disconnect" };
    const std::vector<std::string> failure = { "about", "failure:0", "disconnect" };
    const std::vector<std::string> neither = { "about", "disconnect" };
    // Each class at its edges: below 300 a success, from 400 on a failure,
    // and between them (without a location to follow) neither.
    const std::vector<Row> rows = {
        { "200", "HTTP/1.0 200 OK", success, true },
        { "299", "HTTP/1.0 299 Odd", success, true },
        { "300", "HTTP/1.0 300 Multiple Choices", neither, false },
        { "399", "HTTP/1.0 399 Odd", neither, false },
        { "400", "HTTP/1.0 400 Bad Request", failure, false },
        { "404", "HTTP/1.0 404 Not Found", failure, false },
        { "401 asks for credentials after the close",
          "HTTP/1.0 401 Unauthorized",
          { "about", "failure:0", "disconnect", "auth" },
          false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackPeer peer;
        peer.Accept()
            .ReadUntil("\r\n\r\n")
            .SendInPieces(row.status + "\r\nContent-Length: 4\r\n\r\npage")
            .Stall();
        peer.Start();
        TKvHTTP http;
        EventLog log;
        log.Attach(http);
        std::vector<std::string> statuses;
        http.ReportLevel = 2;
        http.OnStatus = [&](TComponent*, const std::string& status) { statuses.push_back(status); };
        http.Get(Url(peer, "/p.htm"));
        EXPECT_EQ(log.events, row.events);
        EXPECT_EQ(http.Body, "page");
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Transaction Completed"),
                  row.completedReported ? 1 : 0);
        peer.Stop();
    }
}

TEST(KvHttpCommand, RedirectHandledByTheCallerEndsTheCommand) {
    LoopbackPeer peer;
    KvHttpWire::AnswerOnce(
        peer, "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:1/next.htm\r\n\r\n", 3, 3);
    peer.Start();
    TKvHTTP http;
    http.OnRedirect = [](bool& handled) { handled = true; };
    http.Post(Url(peer, "/p.htm"), "a=1");
    EXPECT_EQ(http.ReplyCode, 302);
    EXPECT_EQ(http.CurrentURL(), "http://127.0.0.1:1/next.htm");
    EXPECT_EQ(http.Command(), CmdPOST);
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.AcceptedCount(), 1);
}

TEST(KvHttpCommand, RedirectLoopEndsAfterTwentyRedirects) {
    LoopbackPeer peer;
    const std::string self = Url(peer, "/loop.htm");
    for (int i = 0; i <= TKvHTTP::MaxRedirects; ++i)
        KvHttpWire::AnswerOnce(peer, "HTTP/1.0 302 Found\r\nLocation: " + self + "\r\n\r\n", i + 1,
                               0);
    peer.Start();
    TKvHTTP http;
    int redirects = 0;
    http.OnRedirect = [&](bool&) { ++redirects; };
    EXPECT_EQ(ErrorOf([&] { http.Get(self); }), "Too many redirects");
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.AcceptedCount(), TKvHTTP::MaxRedirects + 1);
    EXPECT_EQ(redirects, TKvHTTP::MaxRedirects + 1);
}

TEST(KvHttpCommand, FileModeWritesTheHeaderAndBodyFiles) {
    InTemporaryDirectory here;
    {
        SCOPED_TRACE("body until the close");
        LoopbackPeer peer;
        KvHttpWire::AnswerOnce(peer, "HTTP/1.0 200 OK\r\nX-A: b\r\n\r\n<html>page</html>");
        peer.Start();
        TKvHTTP http;
        http.InputFileMode = true;
        http.Get(Url(peer, "/p.htm"));
        EXPECT_EQ(ReadFile("Head.txt"), "HTTP/1.0 200 OK\r\nX-A: b\r\n\r\n");
        EXPECT_EQ(ReadFile("Default.htm"), "<html>page</html>");
        EXPECT_EQ(http.Header, "Head.txt");
        EXPECT_EQ(http.Body, "Default.htm");
    }
    // The files named, where the defaults would not show that the names count.
    const auto intoFiles = [](TKvHTTP& http) {
        http.InputFileMode = true;
        http.Header = "h.txt";
        http.Body = "b.htm";
    };
    {
        SCOPED_TRACE("body of the announced length, connection held open");
        LoopbackPeer peer;
        peer.Accept()
            .ReadUntil("\r\n\r\n")
            .SendInPieces("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", 4)
            .Stall();
        peer.Start();
        EXPECT_EQ(KvHttpWire::Fetch(peer, intoFiles).error, "");
        EXPECT_EQ(ReadFile("b.htm"), "hello");
        EXPECT_EQ(ReadFile("h.txt"), "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n");
        peer.Stop();
    }
    {
        SCOPED_TRACE("no status line: the header file is left alone");
        std::ofstream("h.txt") << "old";
        LoopbackPeer peer;
        KvHttpWire::AnswerOnce(peer, "raw bytes");
        peer.Start();
        EXPECT_EQ(KvHttpWire::Fetch(peer, intoFiles).error, "");
        EXPECT_EQ(ReadFile("h.txt"), "old");
        EXPECT_EQ(ReadFile("b.htm"), "raw bytes");
    }
}

// A time limit is what a caller has against a server that stops answering:
// without one (TimeOut 0), such a server holds the command for ever.
TEST(KvHttpCommand, TimeLimitInEachPhase) {
    struct Row {
        const char* name;
        std::string sent; // what the peer sends before it falls silent
        std::string error;
        std::string body;
    };
    const std::vector<Row> rows = {
        { "waiting for the response", "", "Timed out waiting for response", "before" },
        { "reading the header", "HTTP/1.0 200 OK\r\nX-Part", "abort: Socket readln aborted",
          "before" },
        { "receiving the body", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n0123456789",
          "abort: Socket capture aborted", "0123456789" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackPeer peer;
        peer.Accept().ReadUntil("\r\n\r\n").Send(row.sent).Stall();
        KvHttpWire::AnswerOnce(peer, "HTTP/1.0 200 OK\r\n\r\nagain");
        peer.Start();
        TKvHTTP http;
        http.TimeOut = 300;
        http.Body = "before";
        EXPECT_EQ(ErrorOf([&] { http.Get(Url(peer, "/p.htm")); }), row.error);
        EXPECT_EQ(http.Body, row.body);
        // The component stays usable: the next command gets a fresh connection.
        peer.Release();
        http.Get(Url(peer, "/p.htm"));
        EXPECT_EQ(http.Body, "again");
        ASSERT_TRUE(peer.WaitDone());
    }
}

TEST(KvHttpCommand, AbortInEachPhase) {
    {
        SCOPED_TRACE("waiting for the response");
        LoopbackPeer peer;
        std::atomic<bool> requestSeen { false };
        peer.Accept().ReadUntil("\r\n\r\n").Run([&] { requestSeen = true; }).Stall();
        peer.Start();
        TKvHTTP http;
        // Nothing between sending the request and the response wait
        // dispatches events, so the abort lands in that wait.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (requestSeen)
                http.Abort();
        });
        poll.start(5);
        EXPECT_EQ(ErrorOf([&] { http.Get(Url(peer, "/p.htm")); }), "Wait for response Cancelled");
        EXPECT_TRUE(http.AsyncDone);
    }
    {
        SCOPED_TRACE("reading the header");
        LoopbackPeer peer;
        peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n").Stall();
        peer.Start();
        TKvHTTP http;
        http.ReportLevel = 8;
        http.OnStatus = [&](TComponent*, const std::string& status) {
            if (status == "ReadLn")
                http.Abort();
        };
        EXPECT_EQ(ErrorOf([&] { http.Get(Url(peer, "/p.htm")); }), "abort: Socket readln aborted");
    }
    {
        SCOPED_TRACE("receiving the body");
        LoopbackPeer peer;
        peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nsome").Stall();
        peer.Start();
        TKvHTTP http;
        http.OnPacketRecvd = [&](TComponent*) { http.Abort(); };
        EXPECT_EQ(ErrorOf([&] { http.Get(Url(peer, "/p.htm")); }), "abort: Socket capture aborted");
    }
    {
        SCOPED_TRACE("sending the body");
        LoopbackPeer peer;
        peer.Accept().ReadToEnd();
        peer.Start();
        TMemoryStream stream(std::string(2 * 1024 * 1024, 'x'));
        TKvHTTP http;
        http.OnPacketSent = [&](TComponent*) { http.Abort(); };
        EXPECT_EQ(ErrorOf([&] { http.PostStream(Url(peer, "/upload"), &stream); }),
                  "abort: Socket send aborted");
        EXPECT_LT(http.SentCount, 2 * 1024 * 1024);
        ASSERT_TRUE(peer.WaitDone());
    }
}

// Abort and the time limit during a host lookup cancel it: its late answer
// never reaches the next command, which looks up and connects afresh.
TEST(KvHttpCommand, AnAbandonedLookupNeverAnswersIntoTheNextCommand) {
    for (const bool byAbort : { true, false }) {
        SCOPED_TRACE(byAbort ? "Abort" : "time limit");
        auto resolver = std::make_shared<SlowResolver>();
        ScopedHostResolver installed(resolver);
        LoopbackPeer peer;
        KvHttpWire::AnswerOnce(peer, "HTTP/1.0 200 OK\r\n\r\nfresh");
        peer.Start();
        const std::string port = std::to_string(peer.Port());
        TKvHTTP http;
        http.TimeOut = byAbort ? 20000 : 300;
        if (byAbort)
            QTimer::singleShot(50, [&http] { http.Abort(); });
        EXPECT_EQ(ErrorOf([&] { http.Get("http://slow.test:" + port + "/p.htm"); }),
                  byAbort ? "Host Lookup Canceled" : "Host Lookup Timed Out");
        ASSERT_TRUE(resolver->ReleaseAndWait());
        http.TimeOut = 20000;
        http.Get("http://peer.test:" + port + "/p.htm");
        EXPECT_EQ(http.Body, "fresh");
        ASSERT_TRUE(peer.WaitDone());
        EXPECT_EQ(peer.Received(), Request("peer.test:" + port, "GET /p.htm HTTP/1.0"));
    }
}
