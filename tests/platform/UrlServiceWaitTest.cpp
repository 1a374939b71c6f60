#include "platform/LowSpeedWindow.h"
#include "platform/UrlFailure.h"
#include "platform/UrlService.h"
#include "tests/support/LoopGapMeter.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NginxServer.h"
#include "tests/support/UnansweredListener.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <cerrno>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TInternetHandle OpenRoot(const InternetLimits& limits = {}) {
    TInternetHandle root(
        InternetOpenA("UrlServiceWaitTest", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    InternetSetLimits(root.get(), limits);
    return root;
}

TInternetHandle OpenUrl(HINTERNET root, const std::string& url) {
    return TInternetHandle(InternetOpenUrlA(root, url.c_str(), nullptr, 0, 0, 0));
}

// Reads to the end or the first failure; the bytes and whether it ended well.
std::pair<std::string, bool> ReadAll(HINTERNET file) {
    std::string bytes;
    char buffer[4024];
    uint32_t count = 0;
    do {
        if (!InternetReadFile(file, buffer, sizeof buffer, &count))
            return { bytes, false };
        bytes.append(buffer, count);
    } while (count != 0);
    return { bytes, true };
}

std::string SiteOf(const LoopbackPeer& peer) {
    return "http://127.0.0.1:" + std::to_string(peer.Port());
}

// Answers with a head at once, then drips the body for far longer than any
// test runs.
void Drip(LoopbackPeer& peer, const std::string& head, std::chrono::milliseconds pause) {
    peer.Accept()
        .ReadUntil("\r\n\r\n")
        .Send(head)
        .SendInPieces(std::string(100000, 'd'), 3, 10, pause);
    peer.Start();
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + 17) % 253);
    return bytes;
}

} // namespace

TEST(UrlServiceWait, TheThreadsEventsAreDispatchedWhileABodyArrives) {
    NginxServer::Options options;
    options.serverConfig = "location /slow/ { limit_rate 200k; }\n";
    NginxServer server(options);
    const std::string content = Pattern(size_t { 300 } * 1024);
    server.WriteFile("slow/a.bin", content);
    auto root = OpenRoot();
    LoopGapMeter meter;
    auto file = OpenUrl(root.get(), server.Url("/slow/a.bin"));
    ASSERT_TRUE(file) << InternetLastErrorText();
    const auto [bytes, ok] = ReadAll(file.get());
    EXPECT_TRUE(ok) << InternetLastErrorText();
    EXPECT_TRUE(bytes == content);
    EXPECT_GT(meter.Ticks(), 50) << "the transfer took over a second at this rate";
    EXPECT_LT(meter.Longest(), 100ms);
}

TEST(UrlServiceWait, CancelInsideTheWaitEndsTheTransferAtOnce) {
    // While the body drips, a handler run by the read's wait cancels it.
    {
        LoopbackPeer peer;
        Drip(peer, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", 20ms);
        auto root = OpenRoot();
        auto file = OpenUrl(root.get(), SiteOf(peer) + "/a.jpg");
        ASSERT_TRUE(file) << InternetLastErrorText();
        Clock::time_point cancelledAt {};
        QTimer::singleShot(100ms, [&] {
            cancelledAt = Clock::now();
            EXPECT_TRUE(InternetCancelRequest(file.get()));
        });
        const auto [bytes, ok] = ReadAll(file.get());
        EXPECT_FALSE(ok);
        EXPECT_LT(Clock::now() - cancelledAt, 200ms);
        EXPECT_EQ(InternetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
        EXPECT_EQ(InternetLastErrorText(), "Cancelled");
        EXPECT_LT(bytes.size(), 100000u);
        uint32_t count = 7;
        char byte = 0;
        EXPECT_FALSE(InternetReadFile(file.get(), &byte, 1, &count)) << "it stays cancelled";
        EXPECT_EQ(count, 0u);
    }
    // Cancelling the root reaches an open that has not yet handed out its
    // handle, and refuses later opens.
    {
        LoopbackPeer silent;
        silent.Accept().ReadUntil("\r\n\r\n").Stall();
        silent.Start();
        auto root = OpenRoot();
        QTimer::singleShot(50ms, [&] { InternetCancelRequest(root.get()); });
        EXPECT_FALSE(OpenUrl(root.get(), SiteOf(silent) + "/a.jpg"));
        EXPECT_EQ(InternetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
        EXPECT_FALSE(OpenUrl(root.get(), SiteOf(silent) + "/b.jpg"));
        EXPECT_EQ(InternetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
        silent.Stop();
    }
}

TEST(UrlServiceWait, AHandlerInsideTheWaitMayFetchAnotherUrl) {
    NginxServer server;
    server.WriteFile("inner.txt", "inner body");
    LoopbackPeer peer;
    Drip(peer, "HTTP/1.0 200 OK\r\n\r\n", 20ms);
    auto root = OpenRoot();
    auto outer = OpenUrl(root.get(), SiteOf(peer) + "/outer");
    ASSERT_TRUE(outer) << InternetLastErrorText();
    EXPECT_EQ(HttpContentLength(outer.get()), -1) << "no length announced";
    std::string inner;
    QTimer::singleShot(50ms, [&] {
        auto innerRoot = OpenRoot();
        auto file = OpenUrl(innerRoot.get(), server.Url("/inner.txt"));
        if (file)
            inner = ReadAll(file.get()).first;
        InternetCancelRequest(outer.get());
    });
    EXPECT_FALSE(ReadAll(outer.get()).second);
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(inner, "inner body");
}

// The handles of one thread share one multi handle: one left unread (and so
// paused) or cancelled holds up none of the others, and each call returns
// its own handle's bytes.
TEST(UrlServiceWait, HandlesOpenSideBySideEachGetTheirOwnBody) {
    NginxServer server;
    const std::string big = Pattern(size_t { 2 } * 1024 * 1024);
    server.WriteFile("big.bin", big);
    server.WriteFile("small.txt", "small body");
    auto root = OpenRoot();
    auto unread = OpenUrl(root.get(), server.Url("/big.bin"));
    ASSERT_TRUE(unread) << InternetLastErrorText();
    auto cancelled = OpenUrl(root.get(), server.Url("/big.bin"));
    ASSERT_TRUE(cancelled) << InternetLastErrorText();
    for (int i = 0; i < 2; ++i) {
        auto small = OpenUrl(root.get(), server.Url("/small.txt"));
        ASSERT_TRUE(small) << InternetLastErrorText();
        EXPECT_EQ(ReadAll(small.get()), std::make_pair(std::string("small body"), true));
        if (i == 0) {
            EXPECT_TRUE(InternetCancelRequest(cancelled.get()));
        }
    }
    EXPECT_FALSE(ReadAll(cancelled.get()).second);
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    const auto [bytes, ok] = ReadAll(unread.get());
    EXPECT_TRUE(ok) << InternetLastErrorText();
    EXPECT_TRUE(bytes == big);
    EXPECT_LE(InternetPeakBufferedBytes(unread.get()), 256u * 1024);
}

TEST(UrlServiceWait, EachBoundEndsTheTransferWithItsError) {
    InternetLimits limits;
    limits.ConnectMilliseconds = 200;
    limits.LowSpeedBytes = 1024;
    limits.LowSpeedMilliseconds = 300;
    limits.MaxBodyBytes = 100000;
    auto root = OpenRoot(limits);

    UnansweredListener unanswered;
    const auto connectStart = Clock::now();
    EXPECT_FALSE(OpenUrl(root.get(), unanswered.Url("/a.jpg")));
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_TIMEOUT);
    EXPECT_EQ(InternetLastErrorText(), "Connection timed out");
    EXPECT_LT(Clock::now() - connectStart, 10s);

    // A head and then silence; then a body that comes too slowly.
    LoopbackPeer silent;
    silent.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\n").Stall();
    silent.Start();
    EXPECT_FALSE(OpenUrl(root.get(), SiteOf(silent) + "/a.jpg"));
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_TIMEOUT);
    EXPECT_EQ(InternetLastErrorText(), "Timed out");
    silent.Stop();
    LoopbackPeer slow;
    Drip(slow, "HTTP/1.0 200 OK\r\n\r\n", 30ms);
    auto file = OpenUrl(root.get(), SiteOf(slow) + "/a.jpg");
    ASSERT_TRUE(file) << InternetLastErrorText();
    EXPECT_FALSE(ReadAll(file.get()).second);
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_TIMEOUT);
    EXPECT_EQ(InternetLastErrorText(), "Timed out");

    // Size: announced beyond the bound (refused before any body byte), exactly
    // at it (fine), and growing beyond it without an announced length.
    NginxServer server;
    server.WriteFile("big.jpg", Pattern(100001));
    server.WriteFile("full.jpg", Pattern(100000));
    EXPECT_FALSE(OpenUrl(root.get(), server.Url("/big.jpg")));
    EXPECT_EQ(InternetLastError(), ERROR_FILE_TOO_LARGE);
    EXPECT_EQ(InternetLastErrorText(), "Too large");
    auto full = OpenUrl(root.get(), server.Url("/full.jpg"));
    ASSERT_TRUE(full) << InternetLastErrorText();
    EXPECT_EQ(ReadAll(full.get()).first, Pattern(100000));

    LoopbackPeer endless;
    endless.Accept()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 200 OK\r\n\r\n")
        .Send(Pattern(300000))
        .Close();
    endless.Start();
    // The bound may break while the open waits or during a read, depending
    // on how much arrives at once; either way no byte beyond it is handed over.
    std::pair<std::string, bool> growing { "", false };
    if (auto file = OpenUrl(root.get(), SiteOf(endless) + "/a.jpg"))
        growing = ReadAll(file.get());
    EXPECT_FALSE(growing.second);
    EXPECT_EQ(InternetLastError(), ERROR_FILE_TOO_LARGE);
    EXPECT_LE(growing.first.size(), 100000u);
}

// libcurl's names for these (an unsupported protocol, out of memory) would
// send the user looking in the wrong place; none of them is worth a retry
// except the reply that is not HTTP, which a passing fault may cause.
TEST(UrlServiceWait, AResponseHeadThatIsNotHttpOrTooLargeFailsWithItsOwnReason) {
    auto root = OpenRoot();
    const auto openFails = [&root](const std::string& reply) {
        LoopbackPeer peer;
        peer.Accept().ReadUntil("\r\n\r\n").Send(reply).Close();
        peer.Start();
        EXPECT_FALSE(OpenUrl(root.get(), SiteOf(peer) + "/a.jpg"));
        return std::make_pair(InternetLastError(), InternetLastErrorText());
    };
    using Failure = std::pair<uint32_t, std::string>;
    const Failure invalidReply { ERROR_HTTP_INVALID_SERVER_RESPONSE, "Invalid reply from server" };
    const Failure headTooLarge { ERROR_HTTP_INVALID_HEADER, "Response header too large" };

    // The picture's bytes with no status line before them.
    EXPECT_EQ(openFails("\xFF\xD8\xFF\xE0 picture bytes without a head"), invalidReply);
    std::string manyLines = "HTTP/1.0 200 OK\r\n";
    while (manyLines.size() < 1024 * 1024)
        manyLines += "X-Filler: " + std::string(100, 'f') + "\r\n";
    EXPECT_EQ(openFails(manyLines), headTooLarge);
    EXPECT_EQ(openFails("HTTP/1.0 200 OK\r\nX-Long: " + std::string(200000, 'l') + "\r\n\r\nbody"),
              headTooLarge);
    // Before any request (an address of another scheme) they keep their names.
    EXPECT_EQ(UrlFailure::OfCurl(CURLE_UNSUPPORTED_PROTOCOL, 0).Text, "Unsupported address type");
    EXPECT_EQ(UrlFailure::OfCurl(CURLE_OUT_OF_MEMORY, 0).Text, "Out of memory");
}

TEST(UrlServiceWait, AThreadWithoutAnEventLoopCannotOpen) {
    NginxServer server;
    server.WriteFile("a.txt", "a");
    uint32_t error = 0;
    std::string text;
    std::thread([&] {
        auto root = OpenRoot();
        EXPECT_FALSE(OpenUrl(root.get(), server.Url("/a.txt")));
        error = InternetLastError();
        text = InternetLastErrorText();
    }).join();
    EXPECT_EQ(error, ERROR_INTERNET_INTERNAL_ERROR);
    EXPECT_EQ(text, "No event loop on this thread");
}

TEST(UrlServiceWait, LibcurlFailuresAreToldInWords) {
    struct Row {
        CURLcode result;
        long osErrno;
        uint32_t code;
        const char* text;
    };
    const Row rows[] = {
        { CURLE_COULDNT_RESOLVE_HOST, 0, ERROR_INTERNET_NAME_NOT_RESOLVED, "Host not found" },
        { CURLE_COULDNT_RESOLVE_PROXY, 0, ERROR_INTERNET_NAME_NOT_RESOLVED, "Proxy not found" },
        { CURLE_COULDNT_CONNECT, ECONNREFUSED, ERROR_INTERNET_CANNOT_CONNECT,
          "Connection refused" },
        { CURLE_COULDNT_CONNECT, EHOSTUNREACH, ERROR_INTERNET_CANNOT_CONNECT, "Host unreachable" },
        { CURLE_COULDNT_CONNECT, 0, ERROR_INTERNET_CANNOT_CONNECT, "Cannot connect" },
        { CURLE_OPERATION_TIMEDOUT, 0, ERROR_INTERNET_TIMEOUT, "Connection timed out" },
        { CURLE_PEER_FAILED_VERIFICATION, 0, ERROR_INTERNET_SEC_INVALID_CERT,
          "Certificate not trusted" },
        { CURLE_SSL_CONNECT_ERROR, 0, ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
          "Secure connection failed" },
        { CURLE_URL_MALFORMAT, 0, ERROR_INTERNET_INVALID_URL, "Invalid address" },
        { CURLE_GOT_NOTHING, 0, ERROR_HTTP_INVALID_SERVER_RESPONSE, "Server sent no reply" },
        { CURLE_WEIRD_SERVER_REPLY, 0, ERROR_HTTP_INVALID_SERVER_RESPONSE,
          "Invalid reply from server" },
        { CURLE_PARTIAL_FILE, 0, ERROR_INTERNET_CONNECTION_ABORTED,
          "Connection closed before the end" },
        { CURLE_RECV_ERROR, 0, ERROR_INTERNET_CONNECTION_RESET, "Connection broken" },
        { CURLE_OUT_OF_MEMORY, 0, ERROR_NOT_ENOUGH_MEMORY, "Out of memory" },
    };
    for (const Row& row : rows) {
        const UrlFailure failure = UrlFailure::OfCurl(row.result, row.osErrno);
        EXPECT_EQ(failure.Code, row.code) << row.text;
        EXPECT_EQ(failure.Text, row.text);
    }
    EXPECT_EQ(UrlFailure::Of(ERROR_INVALID_PARAMETER).Text, "Unknown access type");
    EXPECT_EQ(UrlFailure::Of(ERROR_INTERNET_INCORRECT_HANDLE_TYPE).Text, "Invalid handle");
}

TEST(LowSpeedWindow, FewerThanTheBytesWithinTheSpanBreakTheBound) {
    const auto t0 = LowSpeedWindow::Clock::time_point {} + 1h;
    LowSpeedWindow window(1024, 30s);
    EXPECT_FALSE(window.Started());
    window.Arrived(5000, t0) /* before Start: not counted */;
    window.Start(t0);
    EXPECT_EQ(window.Deadline(), t0 + 30s) << "nothing at all";
    window.Arrived(1000, t0 + 10s);
    EXPECT_EQ(window.Deadline(), t0 + 30s) << "1000 bytes are still fewer";
    window.Arrived(24, t0 + 20s);
    // 1024 bytes since the start: the span holds enough until the first of
    // them (at 10 s) leaves it.
    EXPECT_EQ(window.Deadline(), t0 + 40s);
    window.Arrived(2000, t0 + 25s);
    EXPECT_EQ(window.Deadline(), t0 + 55s) << "the last 1024 bytes all came at 25 s";
    window.Start(t0 + 60s);
    EXPECT_EQ(window.Deadline(), t0 + 90s) << "a restart forgets";
}
