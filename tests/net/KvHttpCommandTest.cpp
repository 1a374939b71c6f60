// Whole commands of TKvHTTP: redirects and cookies across passes, the order
// of events, file mode, and how a time limit or Abort ends each phase.
#include "net/KvHttp.h"
#include "tests/support/KvHttpWire.h"
#include "tests/support/LoopbackPeer.h"
#include "toolkit/runtime/TMemoryStream.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <sstream>

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
        { "302 without a location fetches the directory",
          [](TKvHTTP& h, const std::string& b) { h.Get(b + "/dir/old.htm"); },
          "HTTP/1.0 302 Found\r\n\r\n", 0, "GET /dir/ HTTP/1.0" },
        { "303 fetches the same URL again",
          [](TKvHTTP& h, const std::string& b) { h.Post(b + "/form", "x"); },
          "HTTP/1.0 303 See Other\r\nLocation: /elsewhere\r\n\r\n", 1, "GET /form HTTP/1.0" },
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
        EXPECT_EQ(received.substr(firstEnd), Request(row.secondRequestLine));
        EXPECT_EQ(http.ReplyCode, 200);
        EXPECT_EQ(http.Body, "new page");
        EXPECT_EQ(http.Command(), CmdGET);
        EXPECT_EQ(successes, std::vector<CmdType> { CmdGET });
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
    EXPECT_EQ(second.Received(), Request("GET /new.htm HTTP/1.0", { "Cookie: id=5" }));
}

TEST(KvHttpCommand, StatusClassesAndTheirEvents) {
    struct Row {
        const char* name;
        std::string status;
        std::vector<std::string> events;
        bool completedReported;
    };
    const std::vector<Row> rows = {
        { "200", "HTTP/1.0 200 OK", { "about", "success:0", "disconnect" }, true },
        { "404", "HTTP/1.0 404 Not Found", { "about", "failure:0", "disconnect" }, false },
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
    {
        SCOPED_TRACE("body of the announced length, connection held open");
        LoopbackPeer peer;
        peer.Accept()
            .ReadUntil("\r\n\r\n")
            .SendInPieces("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", 4)
            .Stall();
        peer.Start();
        TKvHTTP http;
        http.InputFileMode = true;
        http.Header = "h.txt";
        http.Body = "b.htm";
        http.Get(Url(peer, "/p.htm"));
        EXPECT_EQ(ReadFile("b.htm"), "hello");
        EXPECT_EQ(ReadFile("h.txt"), "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n");
        peer.Stop();
    }
    {
        SCOPED_TRACE("no status line: the header file is left alone");
        std::ofstream("Head.txt") << "old";
        LoopbackPeer peer;
        KvHttpWire::AnswerOnce(peer, "raw bytes");
        peer.Start();
        TKvHTTP http;
        http.InputFileMode = true;
        http.Get(Url(peer, "/p.htm"));
        EXPECT_EQ(ReadFile("Head.txt"), "old");
        EXPECT_EQ(ReadFile("Default.htm"), "raw bytes");
    }
}

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
