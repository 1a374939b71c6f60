// TKvHTTP against servers that misbehave on purpose: odd bytes in the
// header, servers that go silent or crawl, bodies that never end, and
// connections torn down by a reset. Every case must end, with the right
// result or a clear error, and keep no more than the bounds allow.
#include "net/KvHttp.h"
#include "tests/support/DispatchUntil.h"
#include "tests/support/KvHttpWire.h"
#include "tests/support/LoopbackPeer.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using KvHttpWire::Fetch;
using KvHttpWire::Outcome;
using KvHttpWire::ResponseCase;
using KvHttpWire::Unchanged;
using KvHttpWire::Url;
using namespace std::chrono_literals;

namespace {

std::string ManyLines(int count) {
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "X-Line-" + std::to_string(i) + ": value\r\n";
    return lines;
}

} // namespace

TEST(KvHttpHostile, OddBytesInTheHeader) {
    const std::string status = "HTTP/1.0 200 OK\r\n";
    const std::string withNul =
        status + "X-A: a" + std::string(1, '\0') + "b\r\nContent-Length: 5\r\n\r\n";
    const std::string strayCr = status + "X-A: a\rb\r\nX-B:\r\r\nContent-Length: 5\r\n\r\n";
    const std::string mixedEnds = status + "X-A: b\nContent-Length: 5\r\nX-B: c\n\n";
    const std::string noColon = status + "NoColonAtAll\r\nContent-Length 3\r\n\r\n";
    const std::string manyLines = status + ManyLines(2000) + "Content-Length: 4\r\n\r\n";
    const std::string longStatus = "HTTP/1.0 200 " + std::string(100 * 1024, 'O') + "\r\n";
    const std::string shortLines = status + ManyLines(1999);
    const std::string lineTooLong = "Response header line too long";
    // A header that comes through whole, with the body after it; with the
    // connection held open, Content-Length is what ends the body.
    constexpr bool heldOpen = true;
    const auto whole = [](const char* name, const std::string& header, bool keepOpen) {
        return ResponseCase { .name = name,
                              .response = header + "hello",
                              .keepOpen = keepOpen,
                              .expected = { .replyCode = 200, .header = header, .body = "hello" } };
    };
    KvHttpWire::PlayAll(
        {
            whole("a NUL in a header line, connection held open", withNul, heldOpen),
            whole("a NUL in a header line, connection closed", withNul, !heldOpen),
            whole("a stray CR does not end a line", strayCr, heldOpen),
            whole("CR LF and lone LF mixed", mixedEnds, heldOpen),
            // A length without its colon announces nothing: the body ends at
            // the close.
            whole("a header without a colon is kept and ignored", noColon, !heldOpen),
            { .name = "2,000 header lines",
              .response = manyLines + "body",
              .maxPiece = 4096,
              .keepOpen = true,
              .expected = { .replyCode = 200, .header = manyLines, .body = "body" } },
            { .name = "a status line of 100 KB",
              .response = longStatus + "\r\nbody",
              .maxPiece = 4096,
              .expected = { .error = lineTooLong, .body = Unchanged } },
            { .name = "a line of 100 KB after 1,999 short ones",
              .response = shortLines + "X-Long: " + std::string(100 * 1024, 'a') + "\r\n\r\nbody",
              .maxPiece = 4096,
              .expected = { .error = lineTooLong,
                            .replyCode = 200,
                            .header = shortLines,
                            .body = Unchanged } },
        },
        7);
}

TEST(KvHttpHostile, SilentAndCrawlingServers) {
    {
        SCOPED_TRACE("a body without length, then silence: the time limit ends it");
        LoopbackPeer peer;
        peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\npart of it").Stall();
        peer.Start();
        const Outcome result = Fetch(peer, [](TKvHTTP& http) { http.TimeOut = 300; });
        EXPECT_EQ(result.error, "abort: Socket capture aborted");
        EXPECT_EQ(result.body, "part of it") << "Body keeps what had arrived";
    }
    {
        SCOPED_TRACE("a byte every 20 ms arrives whole");
        const std::string response = "HTTP/1.0 200 OK\r\nX-A: b\r\n\r\ndripped body";
        LoopbackPeer peer;
        peer.Accept().ReadUntil("\r\n\r\n").SendInPieces(response, 1, 1, 20ms).Close();
        peer.Start();
        const Outcome result = Fetch(peer);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.header, "HTTP/1.0 200 OK\r\nX-A: b\r\n\r\n");
        EXPECT_EQ(result.body, "dripped body");
    }
    {
        // 200 bytes at 20 ms each take 4 s at the very least, far beyond
        // the time limit however fast the machine is.
        SCOPED_TRACE("a dripped header line that outlasts the time limit");
        LoopbackPeer peer;
        peer.Accept()
            .ReadUntil("\r\n\r\n")
            .Send("HTTP/1.0 200 OK\r\n")
            .SendInPieces("X-Slow: " + std::string(200, 's') + "\r\n\r\n", 1, 1, 20ms)
            .Close();
        peer.Start();
        const Outcome result = Fetch(peer, [](TKvHTTP& http) { http.TimeOut = 300; });
        EXPECT_EQ(result.error, "abort: Socket readln aborted");
        peer.Stop();
    }
}

// A head that is buffered whole needs no wait, yet the time limit of the
// whole head still bounds what a handler does between its lines: a status
// handler that turns the event loop past it (where no line's own limit
// runs) ends the command as timed out.
TEST(KvHttpHostile, TheHeadLimitBoundsHandlersBetweenBufferedLines) {
    LoopbackPeer peer;
    peer.Accept()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 200 OK\r\nX-A: 1\r\nX-B: 2\r\n\r\nbody")
        .WaitForRelease();
    peer.Start();
    bool heard = false;
    const Outcome result = Fetch(peer, [&heard](TKvHTTP& http) {
        http.TimeOut = 100;
        http.ReportLevel = 8;
        int lines = 0;
        http.OnStatus = [&heard, &http, lines](TComponent*, const std::string& status) mutable {
            if (status == "ReadLn" && ++lines == 2)
                heard = DispatchUntil([&http] { return http.TimedOut; }, 10s);
        };
    });
    EXPECT_TRUE(heard);
    EXPECT_EQ(result.error, "abort: Socket readln aborted");
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.header, "HTTP/1.0 200 OK\r\n");
    peer.Release();
    peer.Stop();
}

// A header of 2 MiB that streams in steadily, a line at a time: no single
// line waits long, yet the time limit (for the whole header) and the stop
// button both end it long before the size bound would.
TEST(KvHttpHostile, AStreamingHeaderHearsTheTimeLimitAndAbort) {
    std::string header = "HTTP/1.0 200 OK\r\n";
    while (header.size() < 2 * 1024 * 1024)
        header += "X-Fill: " + std::string(200, 'f') + "\r\n";
    const auto streaming = [&](LoopbackPeer& peer) {
        // About 2 KiB every 5 ms: some ten seconds for the whole header.
        peer.Accept().ReadUntil("\r\n\r\n").SendInPieces(header, 3, 4096, 5ms).Close();
        peer.Start();
    };
    {
        SCOPED_TRACE("the time limit");
        LoopbackPeer peer;
        streaming(peer);
        const Outcome result = Fetch(peer, [](TKvHTTP& http) { http.TimeOut = 300; });
        EXPECT_EQ(result.error, "abort: Socket readln aborted");
        EXPECT_TRUE(result.timedOut);
        EXPECT_LT(result.header.size(), header.size() / 2);
        peer.Stop();
    }
    {
        SCOPED_TRACE("Abort");
        LoopbackPeer peer;
        streaming(peer);
        // The stop button, pressed once the header is well under way.
        QTimer poll;
        const Outcome result = Fetch(peer, [&poll](TKvHTTP& http) {
            QObject::connect(&poll, &QTimer::timeout, [&http] {
                if (http.Header.size() > 20000)
                    http.Abort();
            });
            poll.start(5);
        });
        EXPECT_EQ(result.error, "abort: Socket readln aborted");
        EXPECT_LT(result.header.size(), header.size() / 2);
        peer.Stop();
    }
}

// A server that is never silent for long but sends too little: the minimum
// rate ends it in every phase, and a page that comes at a fair pace passes.
TEST(KvHttpHostile, MinimumRateEndsADrippingResponse) {
    const auto slowly = [](TKvHTTP& http) {
        http.MinRateBytes = 1000;
        http.MinRatePeriod = 300;
    };
    const std::string kRateError = "Timed out: transfer below the minimum rate";
    struct Row {
        const char* name;
        std::string head;    // sent at once
        std::string dripped; // then a byte every 20 ms
    };
    const std::vector<Row> rows = {
        { "waiting for the response", "", "" },
        { "reading the header", "HTTP/1.0 200 OK\r\n", "X-Slow: " + std::string(2000, 's') },
        { "receiving the body", "HTTP/1.0 200 OK\r\n\r\n", std::string(2000, 'b') },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackPeer peer;
        peer.Accept().ReadUntil("\r\n\r\n");
        if (!row.head.empty())
            peer.Send(row.head);
        if (!row.dripped.empty())
            peer.SendInPieces(row.dripped, 1, 1, 20ms);
        peer.Stall();
        peer.Start();
        const Outcome result = Fetch(peer, slowly);
        EXPECT_EQ(result.error, kRateError);
        EXPECT_TRUE(result.timedOut) << "a time-out, for callers that retry one";
        peer.Stop();
    }
    {
        SCOPED_TRACE("a fair pace passes");
        const std::string body(200000, 'p');
        LoopbackPeer peer;
        peer.Accept()
            .ReadUntil("\r\n\r\n")
            .SendInPieces("HTTP/1.0 200 OK\r\n\r\n" + body, 5, 4096, 1ms)
            .Close();
        peer.Start();
        const Outcome result = Fetch(peer, slowly);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.body, body);
    }
    {
        SCOPED_TRACE("off by default");
        TKvHTTP http;
        EXPECT_EQ(http.MinRateBytes, 0);
    }
}

// The size bound is what a caller has against a body that never ends:
// without one, such a body fills memory or disk until the server stops.
TEST(KvHttpHostile, EndlessBodyStopsAtTheSizeBound) {
    constexpr int64_t bound = 256 * 1024;
    const std::string chunk(64 * 1024, 'e');
    const auto endless = [&](LoopbackPeer& peer) {
        peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n");
        // Far more than the bound; the script fails once the client has hung up.
        for (int i = 0; i < 128; ++i)
            peer.Send(chunk);
        peer.Start();
    };
    {
        SCOPED_TRACE("into Body");
        LoopbackPeer peer;
        endless(peer);
        const Outcome result = Fetch(peer, [&](TKvHTTP& http) { http.MaxBodySize = bound; });
        EXPECT_EQ(result.error, "Response too large");
        EXPECT_EQ(result.body.size(), static_cast<size_t>(bound + 1));
    }
    {
        SCOPED_TRACE("into the body file");
        QTemporaryDir dir;
        const std::string bodyFile = dir.filePath("body.bin").toStdString();
        LoopbackPeer peer;
        endless(peer);
        const Outcome result = Fetch(peer, [&](TKvHTTP& http) {
            http.MaxBodySize = bound;
            http.InputFileMode = true;
            http.Header = dir.filePath("head.txt").toStdString();
            http.Body = bodyFile;
        });
        EXPECT_EQ(result.error, "Response too large");
        EXPECT_EQ(QFileInfo(QString::fromStdString(bodyFile)).size(), bound + 1);
    }
}

TEST(KvHttpHostile, ConnectionResetEndsInAnError) {
    const std::string status = "HTTP/1.0 200 OK\r\n";
    // The peer answers with 1,000 bytes, the head and the start of a body,
    // then resets the connection.
    const auto resetAfter1000Bytes = [](LoopbackPeer& peer, const std::string& head) {
        peer.Accept()
            .ReadUntil("\r\n\r\n")
            .Send(head + std::string(1000 - head.size(), 'b'))
            .Reset();
        peer.Start();
    };
    {
        SCOPED_TRACE("reset at once");
        LoopbackPeer peer;
        peer.Accept().ReadUntil("\r\n\r\n").Reset();
        peer.Start();
        const Outcome result = Fetch(peer);
        EXPECT_EQ(result.error, "Connection closed without response");
        EXPECT_EQ(result.body, Unchanged);
    }
    {
        SCOPED_TRACE("reset after 1,000 bytes of an announced body");
        const std::string head = status + "Content-Length: 5000\r\n\r\n";
        LoopbackPeer peer;
        resetAfter1000Bytes(peer, head);
        const Outcome result = Fetch(peer);
        EXPECT_EQ(result.error, "Connection closed before the whole body arrived");
    }
    {
        // Without a length only the kind of close tells a whole body from a
        // cut one, so a reset must not pass for the end of the page.
        SCOPED_TRACE("reset after 1,000 bytes of a body without length");
        const std::string head = status + "\r\n";
        LoopbackPeer peer;
        resetAfter1000Bytes(peer, head);
        const Outcome result = Fetch(peer, [](TKvHTTP& http) { http.MaxBodySize = 1 << 20; });
        EXPECT_EQ(result.error, "10054:Connection reset by peer");
        EXPECT_LE(result.body.size(), 1000 - head.size());
        LoopbackPeer unbounded;
        resetAfter1000Bytes(unbounded, head);
        EXPECT_EQ(Fetch(unbounded).error, result.error) << "with no bound on the body";
    }
}

TEST(KvHttpHostile, RedirectToALocationOfTenThousandCharacters) {
    LoopbackPeer peer;
    const std::string path = "/" + std::string(10000 - Url(peer, "/").size(), 'x');
    const std::string location = Url(peer, path);
    ASSERT_EQ(location.size(), 10000u);
    KvHttpWire::AnswerOnce(peer, "HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n\r\n");
    KvHttpWire::AnswerOnce(peer, "HTTP/1.0 200 OK\r\n\r\narrived");
    peer.Start();
    const Outcome result = Fetch(peer);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.body, "arrived");
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_NE(peer.Received().find("GET " + path + " HTTP/1.0\r\n"), std::string::npos);
}
