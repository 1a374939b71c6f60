// The HTTP component with "https:" URLs: against real nginx serving the test
// CA's certificates, compared byte for byte with curl; redirects between the
// schemes; a tunnel through tinyproxy; a scripted server that ends a body
// without length by a close or by a reset.
#include "net/ETlsError.h"
#include "net/KvHttp.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NginxServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TinyproxyServer.h"
#include "tests/support/TlsLoopbackPeer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <random>

namespace {

NginxServer::Options TlsOptions(const TestCertificates::Pair& pair,
                                const std::string& serverConfig = {}) {
    NginxServer::Options options;
    options.tls = true;
    options.certificate = pair.certificate;
    options.certificateKey = pair.key;
    options.serverConfig = serverConfig;
    return options;
}

std::string ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937 generator(seed);
    for (char& c : bytes)
        c = static_cast<char>(generator());
    return bytes;
}

class KvHttpTlsTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(TTlsSession::LiveSessions(), 0) << "a TLS session outlived its command";
    }

    // What curl, trusting the test CA, fetches from the URL.
    std::string CurlFetch(const std::string& url) const {
        QProcess curl;
        curl.start("curl", { "--silent", "--show-error", "--noproxy", "*", "--http1.0", "--cacert",
                             QString::fromStdString(m_certificates.CaFile()),
                             QString::fromStdString(url) });
        EXPECT_TRUE(curl.waitForFinished(300000));
        EXPECT_EQ(curl.exitCode(), 0) << curl.readAllStandardError().toStdString();
        return curl.readAllStandardOutput().toStdString();
    }

    // A component that trusts the test CA, with a generous time limit.
    std::unique_ptr<TKvHTTP> Component() const {
        auto http = std::make_unique<TKvHTTP>();
        http->TlsCaFile = m_certificates.CaFile();
        http->TimeOut = 60000;
        return http;
    }

    TestCertificates m_certificates;
};

} // namespace

TEST_F(KvHttpTlsTest, PageAndLargeBodyArriveAsCurlFetchesThem) {
    NginxServer server(TlsOptions(m_certificates.Good()));
    server.WriteFile("page.html", "<html><body><img src=\"/x.jpg\"></body></html>\r\n");
    server.WriteFile("large.bin", RandomBytes(50 * 1000 * 1000, 50));
    auto http = Component();
    for (const std::string path : { "/page.html", "/large.bin" }) {
        SCOPED_TRACE(path);
        const std::string url = server.Url(path);
        http->Get(url);
        EXPECT_EQ(http->ReplyCode, 200);
        const std::string expected = CurlFetch(url);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(http->Body.size(), expected.size());
        EXPECT_TRUE(http->Body == expected) << "the body differs from curl's";
        EXPECT_FALSE(http->Connected);
    }
}

TEST_F(KvHttpTlsTest, HttpsUrlsUseTlsOnPort443UnlessTheyNameAPort) {
    auto http = Component();
    http->TimeOut = 5000;
    // Nothing listens on 127.0.0.1:443 in the tests; only the port matters.
    EXPECT_THROW(http->Get("https://127.0.0.1/page.html"), ESockError);
    EXPECT_EQ(http->Port, 443);
    EXPECT_TRUE(http->UseTls);
    EXPECT_THROW(http->Get("http://127.0.0.1:" + std::to_string(LoopbackPeer::UnusedPort()) + "/"),
                 ESockError);
    EXPECT_FALSE(http->UseTls);
}

TEST_F(KvHttpTlsTest, ABadCertificateEndsTheCommandWithItsText) {
    NginxServer server(TlsOptions(m_certificates.Expired()));
    server.WriteFile("page.html", "secret");
    auto http = Component();
    bool succeeded = false;
    http->OnSuccess = [&](CmdType) { succeeded = true; };
    try {
        http->Get(server.Url("/page.html"));
        ADD_FAILURE() << "fetched over a refused certificate";
    } catch (const ETlsError& error) {
        EXPECT_EQ(error.Message(), std::string(TlsHandshakeFailed) + TlsCertificateExpired);
        EXPECT_EQ(error.Failure, TTlsFailure::CertificateExpired);
    }
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(http->Body.find("secret"), std::string::npos);
    EXPECT_EQ(server.AccessLog(), "");
}

TEST_F(KvHttpTlsTest, RedirectsCrossTheSchemesBothWaysAndHttpsCookiesStay) {
    // The plain server is scripted, so that its request can be read whole.
    LoopbackPeer plain;
    const std::string plainBase = "http://127.0.0.1:" + std::to_string(plain.Port());
    NginxServer secure(
        TlsOptions(m_certificates.Good(),
                   "location = /to-plain { add_header Set-Cookie \"session=secret\"; return 302 " +
                       plainBase + "/plain.txt; }"));
    secure.WriteFile("page.html", "secure page");
    plain.Accept()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 302 Found\r\nLocation: " + secure.Url("/page.html") + "\r\n\r\n")
        .Close();
    plain.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nplain page").Close();
    plain.Start();
    auto http = Component();

    http->Get(plainBase + "/start");
    EXPECT_EQ(http->Body, "secure page");
    EXPECT_EQ(http->CurrentURL(), secure.Url("/page.html"));

    http->Get(secure.Url("/to-plain"));
    EXPECT_EQ(http->Body, "plain page");
    EXPECT_EQ(http->CurrentURL(), plainBase + "/plain.txt");
    ASSERT_TRUE(plain.WaitDone());
    EXPECT_EQ(plain.Failure(), "");
    const std::string received = plain.Received();
    EXPECT_NE(received.find("GET /plain.txt HTTP/1.0"), std::string::npos) << received;
    EXPECT_EQ(received.find("secret"), std::string::npos) << "an https cookie went to http";
}

TEST_F(KvHttpTlsTest, ThroughAProxyTheTunnelCarriesTlsEndToEnd) {
    NginxServer server(TlsOptions(m_certificates.Good()));
    server.WriteFile("page.html", "through the tunnel");
    TinyproxyServer proxy;
    auto http = Component();
    http->Proxy = "127.0.0.1";
    http->ProxyPort = proxy.Port();

    http->Get(server.Url("/page.html"));
    EXPECT_EQ(http->Body, "through the tunnel");
    // The origin server got the request itself, in origin form: the proxy
    // saw only the tunnel.
    const std::string log = server.WaitForAccessLogLines(1);
    EXPECT_NE(log.find("\"GET /page.html HTTP/1.0\" 200"), std::string::npos) << log;
    EXPECT_NE(proxy.Log().find("CONNECT"), std::string::npos) << proxy.Log();
}

TEST_F(KvHttpTlsTest, AProxyThatRefusesTheTunnelEndsTheCommandWithItsStatus) {
    LoopbackPeer proxy;
    proxy.Accept()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 403 Forbidden\r\nServer: proxy\r\n\r\n")
        .ReadToEnd();
    proxy.Start();
    auto http = Component();
    http->Proxy = "127.0.0.1";
    http->ProxyPort = proxy.Port();
    http->HeaderInfo.ProxyUserId = "user";
    http->HeaderInfo.ProxyPassword = "secret";
    try {
        http->Get("https://127.0.0.1:4433/page.html");
        ADD_FAILURE() << "fetched through a refused tunnel";
    } catch (const ESockError& error) {
        EXPECT_EQ(error.Message(), "Proxy tunnel failed: HTTP/1.0 403 Forbidden");
    }
    ASSERT_TRUE(proxy.WaitDone());
    EXPECT_EQ(proxy.Received(), "CONNECT 127.0.0.1:4433 HTTP/1.0\r\n"
                                "Host: 127.0.0.1:4433\r\n"
                                "Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"
                                "\r\n");
}

TEST_F(KvHttpTlsTest, ABodyWithoutLengthIsWholeOnlyWhenTheServerClosesIt) {
    // More than the socket buffers hold, so that a reset comes while the
    // component is still reading.
    const std::string body = RandomBytes(4 << 20, 4);
    const std::string reset = "10054:Connection reset by peer";
    using Ending = TlsLoopbackPeer::Ending;
    const struct {
        const char* name;
        Ending ending;
        int64_t maxBodySize;
        bool toFile;
        std::string error;
    } rows[] = {
        { "the closing alert", Ending::CloseNotify, -1, false, "" },
        { "a close without the alert", Ending::Close, -1, false, "" },
        { "a close without the alert, into a file", Ending::Close, -1, true, "" },
        { "a reset", Ending::Reset, -1, false, reset },
        { "a reset, with a bound on the body", Ending::Reset, 8 << 20, false, reset },
        { "a reset, into a file", Ending::Reset, -1, true, reset },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TlsLoopbackPeer peer(
            { m_certificates.Good(), 0, "HTTP/1.0 200 OK\r\n\r\n" + body, row.ending });
        QTemporaryDir directory;
        auto http = Component();
        http->MaxBodySize = row.maxBodySize;
        http->InputFileMode = row.toFile;
        http->Body = row.toFile ? directory.filePath("body.bin").toStdString() : "";
        http->Header = directory.filePath("head.txt").toStdString();
        const std::string bodyFile = http->Body;
        bool succeeded = false;
        http->OnSuccess = [&](CmdType) { succeeded = true; };
        std::string error;
        try {
            http->Get("https://127.0.0.1:" + std::to_string(peer.Port()) + "/");
        } catch (const ESockError& raised) {
            error = raised.Message();
        }
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(succeeded, row.error.empty());
        if (row.error.empty()) {
            const std::string received = row.toFile ? ReadFile(bodyFile) : http->Body;
            EXPECT_TRUE(received == body) << "the body differs";
        }
        EXPECT_TRUE(peer.WaitDone());
        // The whole reply left the peer before the connection ended.
        EXPECT_EQ(peer.Failure(), "");
    }
}
