#include "platform/UrlService.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NginxServer.h"

#include <gtest/gtest.h>

#include <QThread>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Body {
    std::string bytes;
    uint32_t largestRead = 0;
    bool ok = true;
};

Body ReadAll(HINTERNET file, uint32_t chunk) {
    Body body;
    std::string buffer(chunk, '\0');
    uint32_t count = 0;
    do {
        body.ok = InternetReadFile(file, buffer.data(), chunk, &count);
        body.largestRead = std::max(body.largestRead, count);
        body.bytes.append(buffer.data(), count);
    } while (body.ok && count != 0);
    return body;
}

TInternetHandle OpenRoot(uint32_t accessType = INTERNET_OPEN_TYPE_PRECONFIG,
                         const char* proxy = nullptr) {
    return TInternetHandle(InternetOpenA("UrlServiceTest.bin", accessType, proxy, nullptr, 0));
}

// Fetches each address with a root of its own, as the program fetches its
// pictures; a failure gives its reason instead of a body.
std::vector<std::string> FetchEach(const std::vector<std::string>& urls) {
    std::vector<std::string> bodies;
    InternetLimits limits;
    limits.LowSpeedMilliseconds = 5000;
    for (const std::string& url : urls) {
        auto root = OpenRoot(INTERNET_OPEN_TYPE_DIRECT);
        InternetSetLimits(root.get(), limits);
        TInternetHandle file(InternetOpenUrlA(root.get(), url.c_str(), nullptr, 0, 0, 0));
        bodies.push_back(file ? ReadAll(file.get(), 4024).bytes : InternetLastErrorText());
    }
    return bodies;
}

} // namespace

// The thread's transfers share one multi handle, so the second picture goes
// over the connection the first one left open; when the thread ends, that
// connection is closed with the multi handle.
TEST(UrlService, PicturesOfOneThreadReuseAConnectionTheServerKeepsOpen) {
    struct Row {
        const char* name;
        const char* extraHeader;
        bool serverCloses;
        bool onWorkerThread;
        int connections;
    };
    const Row rows[] = {
        { "kept open", "", false, false, 1 },
        { "kept open, on a thread that ends", "", false, true, 1 },
        { "closed as announced", "Connection: close\r\n", true, false, 2 },
        { "closed unannounced", "", true, false, 2 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackPeer peer;
        const std::vector<std::string> expected { "first", "second" };
        for (size_t i = 0; i < expected.size(); ++i) {
            if (i == 0 || row.serverCloses)
                peer.Accept();
            peer.ReadUntil("\r\n\r\n")
                .SendInPieces("HTTP/1.1 200 OK\r\n" + std::string(row.extraHeader) +
                              "Content-Length: " + std::to_string(expected[i].size()) + "\r\n\r\n" +
                              expected[i]);
            if (row.serverCloses)
                peer.Close();
        }
        if (row.onWorkerThread)
            peer.ReadToEnd();
        peer.Start();
        const std::string site = "http://127.0.0.1:" + std::to_string(peer.Port());
        const std::vector<std::string> urls { site + "/1.jpg", site + "/2.jpg" };
        std::vector<std::string> bodies;
        if (row.onWorkerThread) {
            std::unique_ptr<QThread> worker(QThread::create([&] { bodies = FetchEach(urls); }));
            worker->start();
            worker->wait();
        } else {
            bodies = FetchEach(urls);
        }
        EXPECT_EQ(bodies, expected);
        EXPECT_TRUE(peer.WaitDone());
        EXPECT_EQ(peer.Failure(), "");
        EXPECT_EQ(peer.AcceptedCount(), row.connections);
    }
}

TEST(UrlService, DeliversTheBodyInChunksOfAtMostTheSizeAskedThenZero) {
    NginxServer server;
    std::string content;
    for (int i = 0; i < 10000; ++i)
        content += static_cast<char>(i * 7);
    server.WriteFile("a.bin", content);
    auto root = OpenRoot();
    TInternetHandle file(
        InternetOpenUrlA(root.get(), server.Url("/a.bin").c_str(), nullptr, 0, 0, 0));
    ASSERT_TRUE(file) << InternetLastErrorText();
    EXPECT_EQ(HttpStatusCode(file.get()), 200u);
    EXPECT_EQ(HttpContentLength(file.get()), 10000);
    const Body body = ReadAll(file.get(), 1000);
    EXPECT_TRUE(body.ok);
    EXPECT_EQ(body.bytes, content);
    EXPECT_LE(body.largestRead, 1000u);
    uint32_t count = 99;
    char byte = 0;
    EXPECT_TRUE(InternetReadFile(file.get(), &byte, 1, &count)) << "reads after the end stay at 0";
    EXPECT_EQ(count, 0u);

    const std::string log = server.WaitForAccessLogLines(1);
    EXPECT_NE(log.find("\"GET /a.bin HTTP/1.1\" 200 10000 \"UrlServiceTest.bin\""),
              std::string::npos)
        << log;
}

TEST(UrlService, LargeBodyStreamsThroughABoundedBuffer) {
    NginxServer server;
    constexpr uint64_t kSize = 96ull * 1024 * 1024;
    server.WriteSparseFile("big.bin", kSize);
    auto root = OpenRoot();
    TInternetHandle file(
        InternetOpenUrlA(root.get(), server.Url("/big.bin").c_str(), nullptr, 0, 0, 0));
    ASSERT_TRUE(file) << InternetLastErrorText();
    char buffer[4024];
    uint64_t total = 0;
    uint32_t count = 0;
    bool allZero = true;
    do {
        ASSERT_TRUE(InternetReadFile(file.get(), buffer, sizeof buffer, &count));
        for (uint32_t i = 0; i < count; ++i)
            allZero &= buffer[i] == 0;
        total += count;
    } while (count != 0);
    EXPECT_EQ(total, kSize);
    EXPECT_TRUE(allZero);
    EXPECT_GT(InternetPeakBufferedBytes(file.get()), 0u);
    EXPECT_LE(InternetPeakBufferedBytes(file.get()), 256u * 1024);
}

TEST(UrlService, RedirectsAreFollowedAndErrorStatusesStillGiveTheirPage) {
    NginxServer::Options options;
    options.serverConfig = "location = /old { return 302 /new.txt; }\n"
                           "location = /loop { return 301 /loop; }\n"
                           "error_page 404 /missing.html;\n";
    NginxServer server(options);
    server.WriteFile("new.txt", "moved here");
    server.WriteFile("missing.html", "<html>not found</html>");
    auto root = OpenRoot();

    TInternetHandle moved(
        InternetOpenUrlA(root.get(), server.Url("/old").c_str(), nullptr, 0, 0, 0));
    ASSERT_TRUE(moved) << InternetLastErrorText();
    EXPECT_EQ(HttpStatusCode(moved.get()), 200u);
    EXPECT_EQ(ReadAll(moved.get(), 4024).bytes, "moved here");

    TInternetHandle missing(
        InternetOpenUrlA(root.get(), server.Url("/nothing").c_str(), nullptr, 0, 0, 0));
    ASSERT_TRUE(missing) << InternetLastErrorText();
    EXPECT_EQ(HttpStatusCode(missing.get()), 404u);
    EXPECT_EQ(ReadAll(missing.get(), 4024).bytes, "<html>not found</html>");

    TInternetHandle loop(
        InternetOpenUrlA(root.get(), server.Url("/loop").c_str(), nullptr, 0, 0, 0));
    EXPECT_FALSE(loop);
    EXPECT_EQ(InternetLastError(), ERROR_HTTP_REDIRECT_FAILED);
    EXPECT_EQ(InternetLastErrorText(), "Too many redirects");
}

TEST(UrlService, UnreachableOrUnsupportedUrlsFailToOpenWithAReason) {
    auto root = OpenRoot(INTERNET_OPEN_TYPE_DIRECT);
    const uint16_t port = LocalServerProcess::FreePort();
    const std::string refused = "http://127.0.0.1:" + std::to_string(port) + "/x.jpg";
    EXPECT_FALSE(TInternetHandle(InternetOpenUrlA(root.get(), refused.c_str(), nullptr, 0, 0, 0)));
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_EQ(InternetLastErrorText(), "Connection refused");

    EXPECT_FALSE(
        TInternetHandle(InternetOpenUrlA(root.get(), "file:///etc/passwd", nullptr, 0, 0, 0)));
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    EXPECT_EQ(InternetLastErrorText(), "Unsupported address type");

    uint32_t count = 5;
    char byte = 0;
    EXPECT_FALSE(InternetReadFile(root.get(), &byte, 1, &count)) << "a root handle has no body";
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(InternetCloseHandle(nullptr));
}

TEST(UrlService, ProxyComesFromTheEnvironmentUnlessAccessIsDirect) {
    NginxServer origin;
    origin.WriteFile("p.txt", "through the proxy");
    NginxServer::Options options;
    options.serverConfig = "location / { proxy_pass " + origin.BaseUrl() + "; }\n";
    NginxServer proxy(options);

    ::setenv("http_proxy", proxy.BaseUrl().c_str(), 1);
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    {
        auto root = OpenRoot();
        TInternetHandle file(
            InternetOpenUrlA(root.get(), origin.Url("/p.txt").c_str(), nullptr, 0, 0, 0));
        ASSERT_TRUE(file) << InternetLastErrorText();
        EXPECT_EQ(ReadAll(file.get(), 4024).bytes, "through the proxy");
    }
    {
        auto root = OpenRoot(INTERNET_OPEN_TYPE_DIRECT);
        TInternetHandle file(
            InternetOpenUrlA(root.get(), origin.Url("/p.txt").c_str(), nullptr, 0, 0, 0));
        ASSERT_TRUE(file) << InternetLastErrorText();
        EXPECT_EQ(ReadAll(file.get(), 4024).bytes, "through the proxy");
    }
    ::unsetenv("http_proxy");
    const std::string proxyLog = proxy.WaitForAccessLogLines(1);
    EXPECT_NE(proxyLog.find("GET " + origin.Url("/p.txt")), std::string::npos) << proxyLog;
    origin.WaitForAccessLogLines(2);
    EXPECT_EQ(std::count(proxyLog.begin(), proxyLog.end(), '\n'), 1)
        << "the direct fetch bypassed it";

    {
        auto root = OpenRoot(INTERNET_OPEN_TYPE_PROXY, proxy.BaseUrl().c_str());
        TInternetHandle file(
            InternetOpenUrlA(root.get(), origin.Url("/p.txt").c_str(), nullptr, 0, 0, 0));
        ASSERT_TRUE(file) << InternetLastErrorText();
        EXPECT_EQ(ReadAll(file.get(), 4024).bytes, "through the proxy");
    }
    proxy.WaitForAccessLogLines(2);
}

TEST(UrlService, HttpsCertificatesAreChecked) {
    NginxServer::Options options;
    options.tls = true;
    NginxServer server(options);
    server.WriteFile("s.jpg", "secret");
    auto root = OpenRoot(INTERNET_OPEN_TYPE_DIRECT);
    // The self-signed certificate is in no trusted store, so the service
    // must refuse the server rather than read from it.
    EXPECT_FALSE(TInternetHandle(
        InternetOpenUrlA(root.get(), server.Url("/s.jpg").c_str(), nullptr, 0, 0, 0)));
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_SEC_INVALID_CERT);
    EXPECT_EQ(InternetLastErrorText(), "Certificate not trusted");
    EXPECT_EQ(server.AccessLog().find("GET /s.jpg"), std::string::npos);
}
