// The TLS session on its own, over a plain non-blocking loopback socket that
// the test drives with poll(): against real nginx with certificates from the
// test CA, and against scripted peers that break the handshake.
#include "net/TlsSession.h"
#include "net/ETlsError.h"
#include "net/TlsErrorText.h"
#include "platform/Winsock.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NginxServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsLoopbackPeer.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A non-blocking TCP connection to 127.0.0.1 that speaks the socket
// library's conventions, as the socket component's transport does.
class LoopbackTransport : public TTlsTransport {
public:
    explicit LoopbackTransport(uint16_t port) {
        m_fd = ::socket(Winsock::AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = Winsock::AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(Winsock::INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            ADD_FAILURE() << "connect: " << errno;
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    }
    ~LoopbackTransport() override { ::close(m_fd); }
    LoopbackTransport(const LoopbackTransport&) = delete;
    LoopbackTransport& operator=(const LoopbackTransport&) = delete;

    int Receive(char* buffer, int size, int& errorNo) noexcept override {
        return Result(::recv(m_fd, buffer, static_cast<size_t>(size), 0), errorNo);
    }
    int Send(const char* data, int size, int& errorNo) noexcept override {
        return Result(::send(m_fd, data, static_cast<size_t>(size), MSG_NOSIGNAL), errorNo);
    }

    // Sleeps until the socket is ready for what the session waits for; fails
    // the test when that takes longer than a generous deadline.
    bool Wait(TTlsWait wait) const {
        pollfd entry { m_fd, static_cast<short>(wait == TTlsWait::Write ? POLLOUT : POLLIN), 0 };
        const bool ready = ::poll(&entry, 1, 30000) == 1;
        EXPECT_TRUE(ready) << "the socket stayed silent";
        return ready;
    }

private:
    static int Result(ssize_t result, int& errorNo) {
        if (result >= 0)
            return static_cast<int>(result);
        errorNo = errno == EAGAIN || errno == EWOULDBLOCK ? Winsock::WSAEWOULDBLOCK
                  : errno == ECONNRESET                   ? Winsock::WSAECONNRESET
                                                          : Winsock::WSAENOTCONN;
        return -1;
    }

    int m_fd { -1 };
};

// Runs the handshake to its end; returns the error text, "" on success, and
// the error's kind in failure when asked.
std::string HandshakeError(TTlsSession& session, const LoopbackTransport& transport,
                           std::optional<TTlsFailure>* failure = nullptr) {
    try {
        for (TTlsWait wait = session.Handshake(); wait != TTlsWait::None;
             wait = session.Handshake())
            if (!transport.Wait(wait))
                return "stalled";
    } catch (const ETlsError& error) {
        if (failure != nullptr)
            *failure = error.Failure;
        return error.Message();
    } catch (const ESockError& error) {
        return error.Message();
    }
    return {};
}

// Sends the request whole, then reads to the close; the reads take random
// sizes so that records are split at every kind of boundary.
std::string Exchange(TTlsSession& session, const LoopbackTransport& transport,
                     const std::string& request) {
    size_t sent = 0;
    while (sent < request.size()) {
        TTlsWait wait = TTlsWait::None;
        sent += static_cast<size_t>(
            session.Write(request.data() + sent, static_cast<int>(request.size() - sent), wait));
        if (wait != TTlsWait::None && !transport.Wait(wait))
            return {};
    }
    std::mt19937 sizes(17);
    std::string reply;
    char buffer[70000];
    for (;;) {
        TTlsWait wait = TTlsWait::None;
        const int size = std::uniform_int_distribution<int>(1, sizeof buffer)(sizes);
        const int received = session.Read(buffer, size, wait);
        reply.append(buffer, static_cast<size_t>(received));
        if (received == 0 && wait == TTlsWait::None)
            return reply;
        if (wait != TTlsWait::None && !transport.Wait(wait))
            return reply;
    }
}

std::string Get(const std::string& path, const std::string& host) {
    return "GET " + path + " HTTP/1.0\r\nHost: " + host + "\r\n\r\n";
}

std::string BodyOf(const std::string& reply) {
    const size_t end = reply.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

NginxServer::Options TlsOptions(const TestCertificates::Pair& pair) {
    NginxServer::Options options;
    options.tls = true;
    options.certificate = pair.certificate;
    options.certificateKey = pair.key;
    // The name the client asked for in its hello, empty without one.
    options.serverConfig = "location = /sni { return 200 \"[$ssl_server_name]\"; }";
    return options;
}

class TlsSessionTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(TTlsSession::LiveSessions(), 0); }

    TestCertificates m_certificates;
};

} // namespace

TEST_F(TlsSessionTest, FetchesByteIdenticalBodiesAndSendsTheNameOnlyForNames) {
    NginxServer server(TlsOptions(m_certificates.Good()));
    std::string body(1 << 20, '\0');
    std::mt19937 bytes(5);
    for (char& c : body)
        c = static_cast<char>(bytes());
    server.WriteFile("big.bin", body);

    {
        LoopbackTransport transport(server.Port());
        TTlsSession session("127.0.0.1", transport, m_certificates.CaFile());
        ASSERT_EQ(HandshakeError(session, transport), "");
        EXPECT_EQ(BodyOf(Exchange(session, transport, Get("/big.bin", "127.0.0.1"))), body);
        EXPECT_EQ(session.CloseErrorNo(), 0);
        EXPECT_EQ(TTlsSession::LiveSessions(), 1);
    }
    for (const auto& [host, sent] : { std::pair<std::string, std::string> { "127.0.0.1", "[]" },
                                      { "localhost", "[localhost]" } }) {
        SCOPED_TRACE(host);
        LoopbackTransport transport(server.Port());
        TTlsSession session(host, transport, m_certificates.CaFile());
        ASSERT_EQ(HandshakeError(session, transport), "");
        EXPECT_EQ(BodyOf(Exchange(session, transport, Get("/sni", host))), sent);
    }
}

TEST_F(TlsSessionTest, RefusesEachBadCertificateWithItsText) {
    struct Row {
        const char* name;
        TestCertificates::Pair pair;
        std::string host;
        bool trustTestCa;
        std::string error;
    };
    const std::string failed = TlsHandshakeFailed;
    const Row rows[] = {
        { "expired", m_certificates.Expired(), "127.0.0.1", true, failed + TlsCertificateExpired },
        { "self-signed", m_certificates.SelfSigned(), "127.0.0.1", true,
          failed + TlsCertificateNotTrusted },
        { "unknown CA", m_certificates.Good(), "127.0.0.1", false,
          failed + TlsCertificateNotTrusted },
        { "other address", m_certificates.OtherName(), "127.0.0.1", true,
          failed + TlsHostMismatch },
        { "other name", m_certificates.Good(), "example.invalid", true, failed + TlsHostMismatch },
        // A wildcard stands for one whole label, never for part of one nor
        // for several; the first row shows the names themselves are fine.
        { "wildcard, whole label (accepted)", m_certificates.Wildcard(), "www.example.test", true,
          "" },
        { "wildcard, two labels", m_certificates.Wildcard(), "a.www.example.test", true,
          failed + TlsHostMismatch },
        { "partial wildcard", m_certificates.PartialWildcard(), "www.example.test", true,
          failed + TlsHostMismatch },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        NginxServer server(TlsOptions(row.pair));
        server.WriteFile("secret.txt", "secret");
        LoopbackTransport transport(server.Port());
        TTlsSession session(row.host, transport, row.trustTestCa ? m_certificates.CaFile() : "");
        EXPECT_EQ(HandshakeError(session, transport), row.error);
        // Nothing was sent: the session cannot write before the handshake
        // has succeeded, so no request reached the server.
        EXPECT_EQ(server.AccessLog(), "");
    }
}

TEST_F(TlsSessionTest, ServersThatDoNotFinishTheHandshakeGetClearErrors) {
    const std::string failed = TlsHandshakeFailed;
    {
        SCOPED_TRACE("plain HTTP on the port");
        NginxServer plain;
        LoopbackTransport transport(plain.Port());
        TTlsSession session("127.0.0.1", transport, m_certificates.CaFile());
        EXPECT_EQ(HandshakeError(session, transport), failed + TlsNotTls);
    }
    {
        SCOPED_TRACE("only TLS 1.1");
        NginxServer::Options options = TlsOptions(m_certificates.Good());
        options.serverConfig += "ssl_protocols TLSv1.1; ssl_ciphers DEFAULT:@SECLEVEL=0;";
        NginxServer old(options);
        LoopbackTransport transport(old.Port());
        TTlsSession session("127.0.0.1", transport, m_certificates.CaFile());
        EXPECT_EQ(HandshakeError(session, transport), failed + TlsOldVersion);
    }
    // The same scripted server limited to each version; up to TLS 1.2 it
    // completes the handshake, which shows that the version alone fails.
    const struct {
        const char* name;
        int newestVersion;
        std::string error;
        std::optional<TTlsFailure> failure;
    } versions[] = {
        { "only TLS 1.0", TLS1_VERSION, failed + TlsOldVersion, TTlsFailure::OldVersion },
        { "only TLS 1.1", TLS1_1_VERSION, failed + TlsOldVersion, TTlsFailure::OldVersion },
        { "up to TLS 1.2", TLS1_2_VERSION, "", std::nullopt },
    };
    for (const auto& row : versions) {
        SCOPED_TRACE(row.name);
        TlsLoopbackPeer peer(
            { m_certificates.Good(), row.newestVersion, "", TlsLoopbackPeer::Ending::Close });
        LoopbackTransport transport(peer.Port());
        TTlsSession session("127.0.0.1", transport, m_certificates.CaFile());
        std::optional<TTlsFailure> failure;
        EXPECT_EQ(HandshakeError(session, transport, &failure), row.error);
        EXPECT_EQ(failure, row.failure);
    }
    {
        SCOPED_TRACE("a TLS 1.0 hello from a server that knows no version list");
        std::string hello("\x16\x03\x01\x00\x2a"      // handshake record, 42 bytes
                          "\x02\x00\x00\x26\x03\x01", // server hello, TLS 1.0
                          11);
        hello += std::string(32, '\x5a');            // random
        hello += std::string("\x00\x00\x2f\x00", 4); // no session, AES128-SHA, no compression
        LoopbackPeer peer;
        peer.Accept().ReadOnce().Send(hello).ReadToEnd();
        peer.Start();
        LoopbackTransport transport(peer.Port());
        TTlsSession session("127.0.0.1", transport, m_certificates.CaFile());
        std::optional<TTlsFailure> failure;
        EXPECT_EQ(HandshakeError(session, transport, &failure), failed + TlsOldVersion);
        EXPECT_EQ(failure, TTlsFailure::OldVersion);
    }
    {
        SCOPED_TRACE("a greeting of another protocol");
        LoopbackPeer peer;
        peer.Accept().Send("220 mail.invalid ESMTP ready\r\n").ReadToEnd();
        peer.Start();
        LoopbackTransport transport(peer.Port());
        TTlsSession session("127.0.0.1", transport, m_certificates.CaFile());
        EXPECT_EQ(HandshakeError(session, transport), failed + TlsNotTls);
    }
    const struct {
        const char* name;
        bool reset;
        std::string error;
    } closes[] = {
        { "closed after the client hello", false, failed + TlsServerClosed },
        { "reset after the client hello", true, failed + "10054:Connection reset by peer" },
    };
    for (const auto& row : closes) {
        SCOPED_TRACE(row.name);
        LoopbackPeer peer;
        peer.Accept().ReadOnce();
        if (row.reset)
            peer.Reset();
        else
            peer.Close();
        peer.Start();
        LoopbackTransport transport(peer.Port());
        TTlsSession session("127.0.0.1", transport, m_certificates.CaFile());
        EXPECT_EQ(HandshakeError(session, transport), row.error);
        EXPECT_TRUE(peer.WaitDone());
    }
}

TEST_F(TlsSessionTest, AnExtraCaFileThatCannotBeReadIsAnError) {
    LoopbackPeer peer;
    LoopbackTransport transport(peer.Port());
    try {
        TTlsSession session("127.0.0.1", transport, "/nonexistent/ca.pem");
        ADD_FAILURE() << "made a session without its CA file";
    } catch (const ESockError& error) {
        EXPECT_EQ(error.Message(), std::string(TlsHandshakeFailed) +
                                       "cannot read the CA file \"/nonexistent/ca.pem\"");
    }
}

TEST(TlsErrorText, NamesEveryCertificateProblemAPersonCanAct) {
    EXPECT_EQ(TlsCertificateProblem(X509_V_ERR_CERT_NOT_YET_VALID), TlsCertificateNotYetValid);
    EXPECT_EQ(TlsCertificateProblem(X509_V_ERR_CERT_REVOKED), TlsCertificateRevoked);
    EXPECT_EQ(TlsCertificateProblem(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY),
              TlsCertificateNotTrusted);
    EXPECT_EQ(TlsCertificateProblem(X509_V_ERR_INVALID_CA),
              "certificate is not valid (invalid CA certificate)");
    EXPECT_EQ(TlsProtocolProblem(SSL_R_TLSV1_ALERT_PROTOCOL_VERSION), TlsOldVersion);
    EXPECT_EQ(TlsProtocolProblem(SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE), TlsNothingInCommon);
    EXPECT_EQ(TlsProtocolProblem(SSL_R_BAD_SIGNATURE), "");

    // The kinds callers decide by, for the codes a text stands for.
    EXPECT_EQ(TlsCertificateFailure(X509_V_ERR_CERT_HAS_EXPIRED), TTlsFailure::CertificateExpired);
    EXPECT_EQ(TlsCertificateFailure(X509_V_ERR_HOSTNAME_MISMATCH), TTlsFailure::HostMismatch);
    EXPECT_EQ(TlsCertificateFailure(X509_V_ERR_INVALID_CA), TTlsFailure::CertificateInvalid);
    EXPECT_EQ(TlsProtocolFailure(SSL_R_UNSUPPORTED_PROTOCOL), TTlsFailure::OldVersion);
    EXPECT_EQ(TlsProtocolFailure(SSL_R_TLSV1_ALERT_PROTOCOL_VERSION), TTlsFailure::OldVersion);
    EXPECT_EQ(TlsProtocolFailure(SSL_R_BAD_SIGNATURE), TTlsFailure::ProtocolError);
}
