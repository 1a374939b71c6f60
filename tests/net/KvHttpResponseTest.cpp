// How TKvHTTP takes in a response: each row is played by a scripted peer
// that writes it in random-sized pieces, so the reader meets every read
// boundary, and then closes the connection or holds it open.
#include "net/KvHttp.h"
#include "tests/support/KvHttpWire.h"
#include "tests/support/LoopbackPeer.h"

#include <gtest/gtest.h>

namespace {

const std::string kUnchanged = "(before the call)";
const std::string kHeaderCut = "Connection closed before the whole header arrived";

struct ResponseCase {
    const char* name;
    std::string response;
    // Expected outcome; an empty error means the call returns normally.
    int replyCode;
    std::string header;
    std::string body;
    std::string error = "";
    std::string cookieIn = "";
    std::string location = "";
    // The peer keeps the connection open after the response.
    bool keepOpen = false;
    CmdType command = CmdGET;
    int64_t maxBodySize = TKvHTTP::Unlimited;
    size_t maxPiece = 7;
};

void Play(const ResponseCase& row, unsigned seed) {
    SCOPED_TRACE(row.name);
    LoopbackPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").SendInPieces(row.response, seed, row.maxPiece);
    if (row.keepOpen)
        peer.Stall();
    else
        peer.Close();
    peer.Start();

    TKvHTTP http;
    http.Header = kUnchanged;
    http.Body = kUnchanged;
    http.MaxBodySize = row.maxBodySize;
    http.TimeOut = 20000; // a row that hangs fails instead
    std::string error;
    try {
        if (row.command == CmdHEAD)
            http.Head(KvHttpWire::Url(peer, "/p.htm"));
        else
            http.Get(KvHttpWire::Url(peer, "/p.htm"));
    } catch (const ESockError& e) {
        error = e.Message();
    }
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(http.ReplyCode, row.replyCode);
    EXPECT_EQ(http.Header, row.header);
    EXPECT_EQ(http.Body, row.body);
    EXPECT_EQ(http.CookieIn(), row.cookieIn);
    EXPECT_EQ(http.Location(), row.location);
    peer.Stop();
}

} // namespace

TEST(KvHttpResponse, StatusLineHeaderAndBody) {
    const std::string longLocation = "http://127.0.0.1/" + std::string(10000, 'x');
    const std::vector<ResponseCase> rows = {
        { "200 with two header lines", "HTTP/1.0 200 OK\r\nServer: t\r\nX-A: b\r\n\r\nhello", 200,
          "HTTP/1.0 200 OK\r\nServer: t\r\nX-A: b\r\n\r\n", "hello" },
        { "404 with a reason", "HTTP/1.0 404 Not Found\r\n\r\nmissing", 404,
          "HTTP/1.0 404 Not Found\r\n\r\n", "missing" },
        { "404 without a reason", "HTTP/1.0 404\r\n\r\nmissing", 404, "HTTP/1.0 404\r\n\r\n",
          "missing" },
        { "a status code that is no number", "HTTP/1.0 abc OK\r\n\r\nx", 0,
          "HTTP/1.0 abc OK\r\n\r\n", "x" },
        { "a status code beyond 16 bits", "HTTP/1.0 99999 X\r\n\r\nx", 0,
          "HTTP/1.0 99999 X\r\n\r\n", "x" },
        { "a negative status code", "HTTP/1.0 -200 X\r\n\r\nx", 0, "HTTP/1.0 -200 X\r\n\r\n", "x" },
        { "lone LF line ends", "HTTP/1.0 200 OK\nX-A: b\n\nhello", 200,
          "HTTP/1.0 200 OK\nX-A: b\n\n", "hello" },
        { "no status line: all of it is body", "<html>hi</html>\r\n", 0, kUnchanged,
          "<html>hi</html>\r\n" },
        { "two bytes, then close", "ab", 0, kUnchanged, "ab" },
        { "nothing, then close", "", 0, kUnchanged, kUnchanged,
          "Connection closed without response" },
        { "the header line cut by the close", "HTTP/1.0 200 OK\r\nX-A: b", 200,
          "HTTP/1.0 200 OK\r\nX-A: b", kUnchanged, kHeaderCut },
        { "the close before the empty line", "HTTP/1.0 200 OK\r\nX-A: b\r\n", 200,
          "HTTP/1.0 200 OK\r\nX-A: b\r\n", kUnchanged, kHeaderCut },
        { "the status line cut by the close", "HTTP/1.0 200", 200, "HTTP/1.0 200", kUnchanged,
          kHeaderCut },
        { "cookies: the last one wins",
          "HTTP/1.0 200 OK\r\nSet-Cookie: a=1; path=/\r\nSET-COOKIE: id=5; path=/\r\n\r\n", 200,
          "HTTP/1.0 200 OK\r\nSet-Cookie: a=1; path=/\r\nSET-COOKIE: id=5; path=/\r\n\r\n", "", "",
          "id=5" },
        { "a cookie without attributes loses only its line end",
          "HTTP/1.0 200 OK\nSet-Cookie: id=5\n\n", 200, "HTTP/1.0 200 OK\nSet-Cookie: id=5\n\n", "",
          "", "id=5" },
        { "a location with a lone LF keeps its last character",
          "HTTP/1.0 200 OK\nLocation: http://h/new.htm\n\n", 200,
          "HTTP/1.0 200 OK\nLocation: http://h/new.htm\n\n", "", "", "", "http://h/new.htm" },
        { "a long location is kept whole",
          "HTTP/1.0 200 OK\r\nLocation: " + longLocation + "\r\n\r\n", 200,
          "HTTP/1.0 200 OK\r\nLocation: " + longLocation + "\r\n\r\n", "", "", "", longLocation,
          false, CmdGET, TKvHTTP::Unlimited, 1000 },
        { "a cookie line cut short by the close", "HTTP/1.0 200 OK\r\nSet-Cookie:", 200,
          "HTTP/1.0 200 OK\r\nSet-Cookie:", kUnchanged, kHeaderCut, "", "" },
        { "a location line cut short by the close", "HTTP/1.0 200 OK\r\nLocation:", 200,
          "HTTP/1.0 200 OK\r\nLocation:", kUnchanged, kHeaderCut },
        { "names need a blank after the colon and none before",
          "HTTP/1.0 200 OK\r\nLocation:x\r\n Location: y\r\n\r\n", 200,
          "HTTP/1.0 200 OK\r\nLocation:x\r\n Location: y\r\n\r\n", "" },
    };
    unsigned seed = 1;
    for (const auto& row : rows)
        Play(row, seed++);
}

TEST(KvHttpResponse, BodyEndsAtContentLengthOrAtTheClose) {
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: ";
    const std::vector<ResponseCase> rows = {
        { "the whole announced body, connection held open", head + "5\r\n\r\nhello", 200,
          head + "5\r\n\r\n", "hello", "", "", "", true },
        { "an announced empty body, connection held open", head + "0\r\n\r\n", 200,
          head + "0\r\n\r\n", "", "", "", "", true },
        { "fewer bytes than announced, then close", head + "10\r\n\r\nhello", 200,
          head + "10\r\n\r\n", "hello", "Connection closed before the whole body arrived" },
        { "more bytes than announced", head + "3\r\n\r\nhello", 200, head + "3\r\n\r\n", "hel" },
        { "no length: the body ends at the close", "HTTP/1.0 200 OK\r\n\r\nhello world", 200,
          "HTTP/1.0 200 OK\r\n\r\n", "hello world" },
        { "a length that is no number is ignored", head + "12abc\r\n\r\nhello", 200,
          head + "12abc\r\n\r\n", "hello" },
        { "a negative length is ignored", head + "-5\r\n\r\nhello", 200, head + "-5\r\n\r\n",
          "hello" },
        { "a length beyond 32 bits is ignored", head + "99999999999\r\n\r\nhello", 200,
          head + "99999999999\r\n\r\n", "hello" },
        { "the last of two lengths counts", head + "9\r\nContent-Length: 2\r\n\r\nhello", 200,
          head + "9\r\nContent-Length: 2\r\n\r\n", "he" },
        { "a reply to HEAD has no body", head + "1234\r\n\r\n", 200, head + "1234\r\n\r\n", "", "",
          "", "", true, CmdHEAD },
    };
    unsigned seed = 100;
    for (const auto& row : rows)
        Play(row, seed++);
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
    const std::vector<ResponseCase> rows = {
        { "a header line of 100 KB", head + longLine + "\r\nbody", 200, head, kUnchanged,
          "Response header line too long", "", "", false, CmdGET, TKvHTTP::Unlimited, 4096 },
        { "a header line that never ends", head + "X-Long: " + std::string(100 * 1024, 'a'), 200,
          head, kUnchanged, "Response header line too long", "", "", true, CmdGET,
          TKvHTTP::Unlimited, 4096 },
        { "a header line of 64 KiB fits", head + fitting + "\r\nbody", 200, head + fitting + "\r\n",
          "body", "", "", "", false, CmdGET, TKvHTTP::Unlimited, 4096 },
        { "a header of 2 MiB", twoMiB + "\r\nbody", 200, withinBound, kUnchanged,
          "Response header too large", "", "", false, CmdGET, TKvHTTP::Unlimited, 65536 },
        { "a header of 2 MiB, connection held open", twoMiB, 200, withinBound, kUnchanged,
          "Response header too large", "", "", true, CmdGET, TKvHTTP::Unlimited, 65536 },
        { "a header of exactly 1 MiB fits", fullHeader + "body", 200, fullHeader, "body", "", "",
          "", false, CmdGET, TKvHTTP::Unlimited, 65536 },
        { "a body over the bound", head + "\r\nhello", 200, head + "\r\n", "hello",
          "Response too large", "", "", false, CmdGET, 4 },
        { "a body at the bound", head + "\r\nhello", 200, head + "\r\n", "hello", "", "", "", false,
          CmdGET, 5 },
        { "an endless body stops at the bound", head + "\r\n" + std::string(300000, 'x'), 200,
          head + "\r\n", std::string(100001, 'x'), "Response too large", "", "", true, CmdGET,
          100000, 65536 },
        { "an announced length over the bound", head + "Content-Length: 5\r\n\r\nhello", 200,
          head + "Content-Length: 5\r\n\r\n", kUnchanged, "Response too large", "", "", true,
          CmdGET, 4 },
    };
    unsigned seed = 200;
    for (const auto& row : rows)
        Play(row, seed++);
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
