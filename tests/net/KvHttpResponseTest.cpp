// How TKvHTTP takes in a response: each row is played by a scripted peer
// that writes it in random-sized pieces, so the reader meets every read
// boundary, and then closes the connection or holds it open.
#include "net/KvFifoBuffer.h"
#include "net/KvHttp.h"
#include "tests/support/KvHttpWire.h"
#include "tests/support/LoopbackPeer.h"

#include <gtest/gtest.h>

using KvHttpWire::Outcome;
using KvHttpWire::PlayAll;
using KvHttpWire::ResponseCase;
using KvHttpWire::Unchanged;

namespace {

const std::string kHeaderCut = "Connection closed before the whole header arrived";
const std::string kBodyCut = "Connection closed before the whole body arrived";

} // namespace

TEST(KvHttpResponse, StatusLineHeaderAndBody) {
    const std::string longLocation = "http://127.0.0.1/" + std::string(10000, 'x');
    PlayAll(
        {
            { .name = "200 with two header lines",
              .response = "HTTP/1.0 200 OK\r\nServer: t\r\nX-A: b\r\n\r\nhello",
              .expected = { .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\r\nServer: t\r\nX-A: b\r\n\r\n",
                            .body = "hello" } },
            { .name = "404 with a reason",
              .response = "HTTP/1.0 404 Not Found\r\n\r\nmissing",
              .expected = { .replyCode = 404,
                            .header = "HTTP/1.0 404 Not Found\r\n\r\n",
                            .body = "missing" } },
            { .name = "404 without a reason",
              .response = "HTTP/1.0 404\r\n\r\nmissing",
              .expected = { .replyCode = 404,
                            .header = "HTTP/1.0 404\r\n\r\n",
                            .body = "missing" } },
            { .name = "a status code that is no number",
              .response = "HTTP/1.0 abc OK\r\n\r\nx",
              .expected = { .replyCode = 0, .header = "HTTP/1.0 abc OK\r\n\r\n", .body = "x" } },
            { .name = "a status code beyond 16 bits",
              .response = "HTTP/1.0 99999 X\r\n\r\nx",
              .expected = { .replyCode = 0, .header = "HTTP/1.0 99999 X\r\n\r\n", .body = "x" } },
            { .name = "a negative status code",
              .response = "HTTP/1.0 -200 X\r\n\r\nx",
              .expected = { .replyCode = 0, .header = "HTTP/1.0 -200 X\r\n\r\n", .body = "x" } },
            { .name = "lone LF line ends",
              .response = "HTTP/1.0 200 OK\nX-A: b\n\nhello",
              .expected = { .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\nX-A: b\n\n",
                            .body = "hello" } },
            { .name = "no status line: all of it is body",
              .response = "<html>hi</html>\r\n",
              .expected = { .header = Unchanged, .body = "<html>hi</html>\r\n" } },
            { .name = "two bytes, then close",
              .response = "ab",
              .expected = { .header = Unchanged, .body = "ab" } },
            { .name = "nothing, then close",
              .response = "",
              .expected = { .error = "Connection closed without response",
                            .header = Unchanged,
                            .body = Unchanged } },
            { .name = "the header line cut by the close",
              .response = "HTTP/1.0 200 OK\r\nX-A: b",
              .expected = { .error = kHeaderCut,
                            .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\r\nX-A: b",
                            .body = Unchanged } },
            { .name = "the close before the empty line",
              .response = "HTTP/1.0 200 OK\r\nX-A: b\r\n",
              .expected = { .error = kHeaderCut,
                            .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\r\nX-A: b\r\n",
                            .body = Unchanged } },
            { .name = "the status line cut by the close",
              .response = "HTTP/1.0 200",
              .expected = { .error = kHeaderCut,
                            .replyCode = 200,
                            .header = "HTTP/1.0 200",
                            .body = Unchanged } },
            { .name = "cookies: the last one wins",
              .response = "HTTP/1.0 200 OK\r\nSet-Cookie: a=1; path=/\r\n"
                          "SET-COOKIE: id=5; path=/\r\n\r\n",
              .expected = { .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\r\nSet-Cookie: a=1; path=/\r\n"
                                      "SET-COOKIE: id=5; path=/\r\n\r\n",
                            .cookieIn = "id=5" } },
            { .name = "a cookie without attributes loses only its line end",
              .response = "HTTP/1.0 200 OK\nSet-Cookie: id=5\n\n",
              .expected = { .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\nSet-Cookie: id=5\n\n",
                            .cookieIn = "id=5" } },
            { .name = "a location with a lone LF keeps its last character",
              .response = "HTTP/1.0 200 OK\nLocation: http://h/new.htm\n\n",
              .expected = { .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\nLocation: http://h/new.htm\n\n",
                            .location = "http://h/new.htm" } },
            { .name = "a long location is kept whole",
              .response = "HTTP/1.0 200 OK\r\nLocation: " + longLocation + "\r\n\r\n",
              .maxPiece = 1000,
              .expected = { .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\r\nLocation: " + longLocation + "\r\n\r\n",
                            .location = longLocation } },
            { .name = "a cookie line cut short by the close",
              .response = "HTTP/1.0 200 OK\r\nSet-Cookie:",
              .expected = { .error = kHeaderCut,
                            .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\r\nSet-Cookie:",
                            .body = Unchanged } },
            { .name = "a location line cut short by the close",
              .response = "HTTP/1.0 200 OK\r\nLocation:",
              .expected = { .error = kHeaderCut,
                            .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\r\nLocation:",
                            .body = Unchanged } },
            { .name = "names need a blank after the colon and none before",
              .response = "HTTP/1.0 200 OK\r\nLocation:x\r\n Location: y\r\n\r\n",
              .expected = { .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\r\nLocation:x\r\n Location: y\r\n\r\n" } },
        },
        1);
}

// Content-Length ends the body, so a server that holds the connection open
// after it does not hold the call until the time limit.
TEST(KvHttpResponse, BodyEndsAtContentLengthOrAtTheClose) {
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: ";
    PlayAll(
        {
            { .name = "the whole announced body, connection held open",
              .response = head + "5\r\n\r\nhello",
              .keepOpen = true,
              .expected = { .replyCode = 200, .header = head + "5\r\n\r\n", .body = "hello" } },
            { .name = "an announced empty body, connection held open",
              .response = head + "0\r\n\r\n",
              .keepOpen = true,
              .expected = { .replyCode = 200, .header = head + "0\r\n\r\n" } },
            { .name = "fewer bytes than announced, then close",
              .response = head + "10\r\n\r\nhello",
              .expected = { .error = kBodyCut,
                            .replyCode = 200,
                            .header = head + "10\r\n\r\n",
                            .body = "hello" } },
            { .name = "one byte fewer than announced, then close",
              .response = head + "10\r\n\r\n123456789",
              .expected = { .error = kBodyCut,
                            .replyCode = 200,
                            .header = head + "10\r\n\r\n",
                            .body = "123456789" } },
            { .name = "more bytes than announced",
              .response = head + "3\r\n\r\nhello",
              .expected = { .replyCode = 200, .header = head + "3\r\n\r\n", .body = "hel" } },
            { .name = "no length: the body ends at the close",
              .response = "HTTP/1.0 200 OK\r\n\r\nhello world",
              .expected = { .replyCode = 200,
                            .header = "HTTP/1.0 200 OK\r\n\r\n",
                            .body = "hello world" } },
            { .name = "a length that is no number is ignored",
              .response = head + "12abc\r\n\r\nhello",
              .expected = { .replyCode = 200, .header = head + "12abc\r\n\r\n", .body = "hello" } },
            { .name = "a negative length is ignored",
              .response = head + "-5\r\n\r\nhello",
              .expected = { .replyCode = 200, .header = head + "-5\r\n\r\n", .body = "hello" } },
            { .name = "a length beyond 32 bits is ignored",
              .response = head + "99999999999\r\n\r\nhello",
              .expected = { .replyCode = 200,
                            .header = head + "99999999999\r\n\r\n",
                            .body = "hello" } },
            { .name = "the last of two lengths counts",
              .response = head + "9\r\nContent-Length: 2\r\n\r\nhello",
              .expected = { .replyCode = 200,
                            .header = head + "9\r\nContent-Length: 2\r\n\r\n",
                            .body = "he" } },
            { .name = "a reply to HEAD has no body",
              .response = head + "1234\r\n\r\n",
              .keepOpen = true,
              .command = CmdHEAD,
              .expected = { .replyCode = 200, .header = head + "1234\r\n\r\n" } },
        },
        100);
}

// A body of exactly 64 KiB ends where the captures' 64 KiB chunks do: the
// last chunk is full, and only what comes after it (the close, or nothing
// more being wanted) ends the body.
TEST(KvHttpResponse, ABodyOfExactly64KiB) {
    const std::string body(65536, 'k');
    const std::string withLength = "HTTP/1.0 200 OK\r\nContent-Length: 65536\r\n\r\n";
    const std::string withoutLength = "HTTP/1.0 200 OK\r\n\r\n";
    PlayAll(
        {
            { .name = "announced, connection held open",
              .response = withLength + body,
              .maxPiece = 4096,
              .keepOpen = true,
              .expected = { .replyCode = 200, .header = withLength, .body = body } },
            { .name = "announced, then close",
              .response = withLength + body,
              .maxPiece = 4096,
              .expected = { .replyCode = 200, .header = withLength, .body = body } },
            { .name = "announced, one byte missing, then close",
              .response = withLength + body.substr(1),
              .maxPiece = 4096,
              .expected = { .error = kBodyCut,
                            .replyCode = 200,
                            .header = withLength,
                            .body = body.substr(1) } },
            { .name = "ended by the close",
              .response = withoutLength + body,
              .maxPiece = 4096,
              .expected = { .replyCode = 200, .header = withoutLength, .body = body } },
            { .name = "ended by the close, under a bound of exactly its size",
              .response = withoutLength + body,
              .maxPiece = 4096,
              .maxBodySize = 65536,
              .expected = { .replyCode = 200, .header = withoutLength, .body = body } },
            { .name = "no status line: all of it is body",
              .response = body,
              .maxPiece = 4096,
              .expected = { .header = Unchanged, .body = body } },
        },
        300);
}

// The receive buffer at the smallest capacity it is ever given: a body of
// exactly that size fills it with one full read, and the read after that one
// finds the close. The connection ends at that read, as the component's own
// close, so the peer's close is heard once, not again through its notification.
TEST(KvHttpResponse, ABodyThatFillsTheReceiveBufferEndsAtTheReadThatFindsTheClose) {
    const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
    const std::string body(65536, 'k');
    LoopbackPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").Send(head).WaitForRelease().Send(body).Close();
    peer.Start();
    int disconnects = 0;
    const KvHttpWire::Outcome outcome = KvHttpWire::Fetch(peer, [&](TKvHTTP& http) {
        http.InputBuffer = std::make_unique<TKvFifoBuffer>(65536);
        http.OnDisconnect = [&](TComponent*) { ++disconnects; };
        http.ReportLevel = 8;
        http.OnStatus = [&](TComponent*, const std::string& status) {
            // The header is taken and the buffer is empty: the body and the
            // close are both in the socket before the next read.
            if (status == "Capture String") {
                peer.Release();
                EXPECT_TRUE(peer.WaitDone());
            }
        };
    });
    KvHttpWire::ExpectOutcome(outcome, { .replyCode = 200, .header = head, .body = body });
    // At the read that found the close, and when the command closes.
    EXPECT_EQ(disconnects, 2);
}

TEST(KvHttpResponse, SizeBounds) {
    const std::string head = "HTTP/1.0 200 OK\r\n";
    // Lines of 1 KiB: 1,023 of them fit after the status line, and a last,
    // shorter one fills the header up to the bound with the empty line.
    const std::string kibLine = "X-Fill: " + std::string(1024 - 10, 'f') + "\r\n";
    std::string fullHeader = head;
    while (fullHeader.size() + kibLine.size() <= TKvHTTP::MaxHeaderSize)
        fullHeader += kibLine;
    const std::string withinBound = fullHeader;
    const size_t rest = TKvHTTP::MaxHeaderSize - fullHeader.size() - 2;
    fullHeader += "X-Last: " + std::string(rest - 10, 'l') + "\r\n\r\n";
    ASSERT_EQ(fullHeader.size(), static_cast<size_t>(TKvHTTP::MaxHeaderSize));
    std::string twoMiB = head;
    while (twoMiB.size() < 2 * 1024 * 1024)
        twoMiB += kibLine;
    const std::string longLine = "X-Long: " + std::string(100 * 1024, 'a') + "\r\n";
    const std::string fitting = "X-Long: " + std::string(TKvHTTP::MaxHeaderLine - 10, 'a') + "\r\n";
    const std::string lineTooLong = "Response header line too long";
    const std::string headerTooLarge = "Response header too large";
    const std::string bodyTooLarge = "Response too large";
    // The bounds on the header and, for a caller that sets one, on the body
    // keep a hostile server from filling memory.
    PlayAll(
        {
            { .name = "a header line of 100 KB",
              .response = head + longLine + "\r\nbody",
              .maxPiece = 4096,
              .expected = { .error = lineTooLong,
                            .replyCode = 200,
                            .header = head,
                            .body = Unchanged } },
            { .name = "a header line that never ends",
              .response = head + "X-Long: " + std::string(100 * 1024, 'a'),
              .maxPiece = 4096,
              .keepOpen = true,
              .expected = { .error = lineTooLong,
                            .replyCode = 200,
                            .header = head,
                            .body = Unchanged } },
            { .name = "a header line of 64 KiB fits",
              .response = head + fitting + "\r\nbody",
              .maxPiece = 4096,
              .expected = { .replyCode = 200, .header = head + fitting + "\r\n", .body = "body" } },
            { .name = "a header of 2 MiB",
              .response = twoMiB + "\r\nbody",
              .maxPiece = 65536,
              .expected = { .error = headerTooLarge,
                            .replyCode = 200,
                            .header = withinBound,
                            .body = Unchanged } },
            { .name = "a header of 2 MiB, connection held open",
              .response = twoMiB,
              .maxPiece = 65536,
              .keepOpen = true,
              .expected = { .error = headerTooLarge,
                            .replyCode = 200,
                            .header = withinBound,
                            .body = Unchanged } },
            { .name = "a header of exactly 1 MiB fits",
              .response = fullHeader + "body",
              .maxPiece = 65536,
              .expected = { .replyCode = 200, .header = fullHeader, .body = "body" } },
            { .name = "a body over the bound",
              .response = head + "\r\nhello",
              .maxBodySize = 4,
              .expected = { .error = bodyTooLarge,
                            .replyCode = 200,
                            .header = head + "\r\n",
                            .body = "hello" } },
            { .name = "a body at the bound",
              .response = head + "\r\nhello",
              .maxBodySize = 5,
              .expected = { .replyCode = 200, .header = head + "\r\n", .body = "hello" } },
            { .name = "an endless body stops at the bound",
              .response = head + "\r\n" + std::string(300000, 'x'),
              .maxPiece = 65536,
              .keepOpen = true,
              .maxBodySize = 100000,
              .expected = { .error = bodyTooLarge,
                            .replyCode = 200,
                            .header = head + "\r\n",
                            .body = std::string(100001, 'x') } },
            { .name = "an announced length over the bound",
              .response = head + "Content-Length: 5\r\n\r\nhello",
              .keepOpen = true,
              .maxBodySize = 4,
              .expected = { .error = bodyTooLarge,
                            .replyCode = 200,
                            .header = head + "Content-Length: 5\r\n\r\n",
                            .body = Unchanged } },
        },
        200);
}

TEST(KvHttpResponse, BodyRoomIsTakenAheadOnlyUpToABound) {
    // Each server announces far more than it sends, then closes.
    const auto bodyCapacity = [](int64_t announced, int64_t maxBodySize) {
        LoopbackPeer peer;
        peer.Accept()
            .ReadUntil("\r\n\r\n")
            .SendInPieces("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(announced) +
                              "\r\n\r\nhello",
                          1, 7);
        peer.Close();
        peer.Start();
        TKvHTTP http;
        http.MaxBodySize = maxBodySize;
        http.TimeOut = 20000;
        EXPECT_THROW(http.Get(KvHttpWire::Url(peer, "/p.htm")), ESockError);
        EXPECT_EQ(http.Body, "hello");
        peer.Stop();
        return static_cast<int64_t>(http.Body.capacity());
    };
    EXPECT_GE(bodyCapacity(3000000, TKvHTTP::Unlimited), 3000000);
    EXPECT_GE(bodyCapacity(3000000, 3000000), 3000000);
    SCOPED_TRACE("without a bound, a lying length takes no more than 256 MiB ahead");
    EXPECT_LE(bodyCapacity(2000000000, TKvHTTP::Unlimited), int64_t { 256 } << 20);
}

// One component takes responses of long and short heads in turn, one of
// them cut: each command's Header, cookie, reply code and body are its own
// response's, with nothing of a line of the one before.
TEST(KvHttpResponse, EachHeadIsTakenAfreshByTheSameComponent) {
    const std::string longHead = "HTTP/1.0 200 OK\r\nX-Long: " + std::string(3000, 'x') +
                                 "\r\nSet-Cookie: a=b; path=/\r\nContent-Length: 5\r\n\r\n";
    struct Step {
        std::string response;
        Outcome expected;
    };
    const std::vector<Step> steps = {
        { longHead + "hello",
          { .replyCode = 200, .header = longHead, .body = "hello", .cookieIn = "a=b" } },
        { "HTTP/1.0 404 Not Found\r\n\r\nmissing",
          { .replyCode = 404, .header = "HTTP/1.0 404 Not Found\r\n\r\n", .body = "missing" } },
        { "HTTP/1.0 200 OK\r\nX-Cut: a",
          { .error = kHeaderCut, .replyCode = 200, .header = "HTTP/1.0 200 OK\r\nX-Cut: a" } },
        { "HTTP/1.0 200 OK\r\nX-Cut: after the line end\r\n",
          { .error = kHeaderCut,
            .replyCode = 200,
            .header = "HTTP/1.0 200 OK\r\nX-Cut: after the line end\r\n" } },
        { longHead + "hello",
          { .replyCode = 200, .header = longHead, .body = "hello", .cookieIn = "a=b" } },
        { "HTTP/1.0 204 No Content\n\n",
          { .replyCode = 204, .header = "HTTP/1.0 204 No Content\n\n" } },
    };
    LoopbackPeer peer;
    unsigned seed = 1;
    for (const Step& step : steps)
        KvHttpWire::AnswerOnce(peer, step.response, seed++);
    peer.Start();
    TKvHTTP http;
    http.TimeOut = 20000;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.response.substr(0, 24));
        Outcome outcome;
        try {
            http.Get(KvHttpWire::Url(peer, "/p.htm"));
        } catch (const ESockError& error) {
            outcome.error = error.Message();
        }
        outcome.replyCode = http.ReplyCode;
        outcome.header = http.Header;
        outcome.body = step.expected.error.empty() ? http.Body : "";
        outcome.cookieIn = http.CookieIn();
        KvHttpWire::ExpectOutcome(outcome, step.expected);
    }
    EXPECT_TRUE(peer.WaitDone());
}
