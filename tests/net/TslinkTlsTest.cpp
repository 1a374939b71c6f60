// The socket component with UseTls: the handshake inside Connect, on the
// component's own waits, and the data transfer operations over TLS.
#include "net/ETlsError.h"
#include "tests/net/TslinkTestSupport.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NginxServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsLoopbackPeer.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <openssl/ssl.h>

#include <ctime>
#include <random>

namespace {

NginxServer::Options TlsOptions(const TestCertificates::Pair& pair) {
    NginxServer::Options options;
    options.tls = true;
    options.certificate = pair.certificate;
    options.certificateKey = pair.key;
    return options;
}

class TslinkTlsTest : public TslinkTest {
protected:
    void TearDown() override {
        TslinkTest::TearDown();
        EXPECT_EQ(TTlsSession::LiveSessions(), 0) << "a TLS session outlived its component";
    }

    // A component that trusts the test CA, with a generous time limit.
    std::unique_ptr<TTessalink> TlsComponent(const std::string& host, uint16_t port) {
        auto component = std::make_unique<TTessalink>(nullptr);
        component->UseTls = true;
        component->TlsCaFile = m_certificates.CaFile();
        component->TimeOut = 30000;
        component->Host = host;
        component->Port = port;
        return component;
    }

    TestCertificates m_certificates;
};

std::string RequestFor(const std::string& path) {
    return "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
}

} // namespace

TEST_F(TslinkTlsTest, LinesAndCapturesWorkUnchangedOverTls) {
    NginxServer server(TlsOptions(m_certificates.Good()));
    std::string body(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 bytes(3);
    for (char& c : body)
        c = static_cast<char>(bytes());
    server.WriteFile("big.bin", body);
    Resolver->Known["localhost"] = { 127, 0, 0, 1 };

    for (const std::string host : { "127.0.0.1", "localhost" }) {
        SCOPED_TRACE(host);
        auto component = TlsComponent(host, server.Port());
        StatusLog status;
        component->ReportLevel = 8;
        status.Attach(*component);
        component->Connect();
        EXPECT_TRUE(component->Connected);
        const std::vector<std::string> phases = status.From("Connecting");
        EXPECT_NE(std::find(phases.begin(), phases.end(), "TLS Handshake"), phases.end());
        EXPECT_TRUE(status.Contains("TLS Established"));

        component->Writeln(RequestFor("/big.bin"));
        EXPECT_EQ(component->ReadLn(), "HTTP/1.1 200 OK\r\n");
        while (component->ReadLn() != "\r\n") {
        }
        std::string received;
        component->CaptureString(received, CaptureUntilClose);
        EXPECT_EQ(received.size(), body.size());
        EXPECT_TRUE(received == body) << "the body differs";
        EXPECT_FALSE(component->Connected);
        EXPECT_EQ(TTlsSession::LiveSessions(), 0) << "the close kept the session";
    }

    // A component destroyed on a live connection takes its session along.
    auto component = TlsComponent("127.0.0.1", server.Port());
    component->Connect();
    EXPECT_EQ(TTlsSession::LiveSessions(), 1);
    component.reset();
}

TEST_F(TslinkTlsTest, ConnectRefusesEachBadCertificateWithItsText) {
    const std::string failed = TlsHandshakeFailed;
    const struct {
        const char* name;
        TestCertificates::Pair pair;
        bool trustTestCa;
        std::string error;
    } rows[] = {
        { "expired", m_certificates.Expired(), true, failed + TlsCertificateExpired },
        { "self-signed", m_certificates.SelfSigned(), true, failed + TlsCertificateNotTrusted },
        { "unknown CA", m_certificates.Good(), false, failed + TlsCertificateNotTrusted },
        { "other name", m_certificates.OtherName(), true, failed + TlsHostMismatch },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        NginxServer server(TlsOptions(row.pair));
        auto component = TlsComponent("127.0.0.1", server.Port());
        if (!row.trustTestCa)
            component->TlsCaFile.clear();
        ExpectRaises<ETlsError>([&] { component->Connect(); }, row.error);
        EXPECT_FALSE(component->Connected);
        EXPECT_EQ(TTlsSession::LiveSessions(), 0);
        // Nothing can be sent in plain text on the refused connection.
        EXPECT_THROW(component->Writeln(RequestFor("/")), ESockError);
        EXPECT_EQ(server.AccessLog(), "");
    }
}

TEST_F(TslinkTlsTest, HandshakesThatCannotFinishEndWithClearErrors) {
    const std::string failed = TlsHandshakeFailed;
    {
        SCOPED_TRACE("plain HTTP on the port");
        NginxServer plain;
        auto component = TlsComponent("127.0.0.1", plain.Port());
        ExpectRaises<ETlsError>([&] { component->Connect(); }, failed + TlsNotTls);
        EXPECT_FALSE(component->Connected);
    }
    const std::pair<const char*, int> olderVersions[] = { { "only TLS 1.0", TLS1_VERSION },
                                                          { "only TLS 1.1", TLS1_1_VERSION } };
    for (const auto& [name, version] : olderVersions) {
        SCOPED_TRACE(name);
        TlsLoopbackPeer peer(
            { m_certificates.Good(), version, "", TlsLoopbackPeer::Ending::Close });
        auto component = TlsComponent("127.0.0.1", peer.Port());
        try {
            component->Connect();
            ADD_FAILURE() << "connected to a server without TLS 1.2";
        } catch (const ETlsError& error) {
            EXPECT_EQ(error.Message(), failed + TlsOldVersion);
            EXPECT_EQ(error.Failure, TTlsFailure::OldVersion);
        }
        EXPECT_FALSE(component->Connected);
    }
    {
        SCOPED_TRACE("closed in the middle of the handshake");
        LoopbackPeer peer;
        peer.Accept().ReadOnce().Close();
        peer.Start();
        auto component = TlsComponent("127.0.0.1", peer.Port());
        ExpectRaises<ETlsError>([&] { component->Connect(); }, failed + TlsServerClosed);
        EXPECT_TRUE(peer.WaitDone());
    }
    {
        SCOPED_TRACE("stalled: the time limit");
        LoopbackPeer peer;
        peer.Accept().Stall();
        peer.Start();
        auto component = TlsComponent("127.0.0.1", peer.Port());
        component->TimeOut = 300;
        ExpectRaises<ETlsError>([&] { component->Connect(); }, TlsHandshakeTimedOut);
        EXPECT_FALSE(component->Connected);
        peer.Stop();
    }
    {
        SCOPED_TRACE("stalled: Abort from a timer of the window");
        LoopbackPeer peer;
        peer.Accept().Stall();
        peer.Start();
        auto component = TlsComponent("127.0.0.1", peer.Port());
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            // The wait keeps the thread's timers running; the third tick
            // ends the handshake.
            if (++ticks == 3)
                component->Abort();
        });
        timer.start(20);
        ExpectRaises<ETlsError>([&] { component->Connect(); }, TlsHandshakeCanceled);
        EXPECT_GE(ticks, 3);
        EXPECT_FALSE(component->Connected);
        peer.Stop();
    }
}

TEST_F(TslinkTlsTest, CaptureUntilTheCloseTellsAResetFromAClose) {
    // More than the socket buffers hold, so that a reset comes while the
    // component is still reading.
    std::string body(4 << 20, '\0');
    std::mt19937 bytes(9);
    for (char& c : body)
        c = static_cast<char>(bytes());
    const std::string reset = "10054:Connection reset by peer";
    using Ending = TlsLoopbackPeer::Ending;
    const struct {
        const char* name;
        Ending ending;
        bool toFile;
        std::string error;
    } rows[] = {
        { "the closing alert", Ending::CloseNotify, false, "" },
        // Many servers end this way; the close alone marks the end, as on a
        // plain connection.
        { "a close without the alert", Ending::Close, false, "" },
        { "a reset, into a string", Ending::Reset, false, reset },
        { "a reset, into a file", Ending::Reset, true, reset },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TlsLoopbackPeer peer(
            { m_certificates.Good(), 0, "HTTP/1.0 200 OK\r\n\r\n" + body, row.ending });
        auto component = TlsComponent("127.0.0.1", peer.Port());
        component->Connect();
        component->Writeln(RequestFor("/"));
        EXPECT_EQ(component->ReadLn(), "HTTP/1.0 200 OK\r\n");
        EXPECT_EQ(component->ReadLn(), "\r\n");
        QTemporaryDir directory;
        const std::string fileName = directory.filePath("body.bin").toStdString();
        std::string received;
        std::string error;
        try {
            if (row.toFile)
                component->CaptureFile(fileName);
            else
                component->CaptureString(received, CaptureUntilClose);
        } catch (const ESockError& raised) {
            EXPECT_EQ(typeid(raised), typeid(ESockError)) << "the plain socket error";
            error = raised.Message();
        }
        EXPECT_EQ(error, row.error);
        if (row.error.empty()) {
            EXPECT_TRUE(received == body) << "the body differs";
        }
        EXPECT_FALSE(component->Connected);
        EXPECT_TRUE(peer.WaitDone());
        // The whole reply left the peer before the connection ended.
        EXPECT_EQ(peer.Failure(), "");
    }
}

// A server that stalls in the middle of a body: a capture into a file over
// TLS sleeps while it waits, so its time limit ends it as on a plain
// connection, in about that time and with little processor time spent.
TEST_F(TslinkTlsTest, ACaptureEndsAtTheTimeLimitWhenTheServerStallsMidBody) {
    const std::string part(100000, 'b');
    TlsLoopbackPeer peer({ m_certificates.Good(), 0, "HTTP/1.0 200 OK\r\n\r\n" + part,
                           TlsLoopbackPeer::Ending::Stall });
    auto component = TlsComponent("127.0.0.1", peer.Port());
    component->Connect();
    component->Writeln(RequestFor("/"));
    EXPECT_EQ(component->ReadLn(), "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(component->ReadLn(), "\r\n");
    component->TimeOut = 300;
    QTemporaryDir directory;
    const auto processorTime = [] {
        timespec now {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    };
    const auto started = std::chrono::steady_clock::now();
    const auto processorAtStart = processorTime();
    ExpectRaises<EAbortError>(
        [&] { component->CaptureFile(directory.filePath("body.bin").toStdString()); },
        "Socket capture aborted");
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 250ms);
    EXPECT_LT(waited, 3s);
    EXPECT_LT(processorTime() - processorAtStart, waited / 2) << "the wait spun";
    EXPECT_EQ(QFileInfo(directory.filePath("body.bin")).size(), static_cast<qint64>(part.size()));
}
