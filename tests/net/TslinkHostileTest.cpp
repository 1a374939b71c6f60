// The socket component, and the HTTP component above it, against peers that
// end a connection by a reset or put zero bytes into their lines.
#include "net/KvHttp.h"
#include "tests/net/TslinkTestSupport.h"
#include "tests/support/KvHttpWire.h"
#include "tests/support/LoopbackPeer.h"
#include "toolkit/runtime/TMemoryStream.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <future>

namespace {

const std::string kResetText = "10054:Connection reset by peer";

std::string Bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + i % 23);
    return bytes;
}

std::string ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

const std::string kPageHead = "HTTP/1.0 200 OK\r\n\r\n";
const std::string kPageBody(3000, 'b');

// Gets a page whose body ends with a reset (or an orderly close).
KvHttpWire::Outcome GetPage(bool reset, const std::function<void(TKvHTTP&)>& setUp) {
    LoopbackPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").SendInPieces(kPageHead + kPageBody, 5, 700);
    reset ? peer.Reset() : peer.Close();
    peer.Start();
    return KvHttpWire::Fetch(peer, setUp);
}

} // namespace

TEST_F(TslinkTest, CaptureUntilTheCloseTellsAResetFromAnOrderlyClose) {
    const std::string bytes = Bytes(1000);
    LoopbackPeer peer;
    // Each connection: the bytes, then (once they are all buffered, so none
    // can be lost to the reset) a reset, or an orderly close at the end.
    for (int i = 0; i < 4; ++i)
        peer.Accept().Send(bytes).WaitForRelease().Reset();
    peer.Accept().Send(bytes).WaitForRelease().Close();
    peer.Start();
    TTessalink component(nullptr);
    std::vector<uint16_t> reported;
    component.OnSocketError = [&](TComponent*, uint16_t errorNo, const std::string&) {
        reported.push_back(errorNo);
    };
    const auto connectAndBuffer = [&] {
        ConnectTo(component, peer.Port());
        EXPECT_EQ(component.CloseErrorNo(), 0);
        ASSERT_TRUE(DispatchUntil([&] { return component.InputBuffer->Count() == 1000; }));
        peer.Release();
    };

    {
        SCOPED_TRACE("CaptureString: the bytes are delivered, then the reset is an error");
        connectAndBuffer();
        std::string text;
        ExpectRaises<ESockError>([&] { component.CaptureString(text, CaptureUntilClose); },
                                 kResetText);
        EXPECT_TRUE(text == bytes);
        EXPECT_FALSE(component.Connected);
        EXPECT_EQ(component.CloseErrorNo(), 10054);
        EXPECT_EQ(component.LastErrorNo, 10054);
        EXPECT_EQ(reported, std::vector<uint16_t> { 10054 });
    }
    {
        SCOPED_TRACE("CaptureFile: the file keeps the bytes");
        connectAndBuffer();
        QTemporaryDir directory;
        ASSERT_TRUE(directory.isValid());
        const std::string fileName = directory.filePath("capture.bin").toStdString();
        ExpectRaises<ESockError>([&] { component.CaptureFile(fileName); }, kResetText);
        EXPECT_TRUE(ReadFile(fileName) == bytes);
    }
    {
        SCOPED_TRACE("a capture of what is buffered, or of a size, knows no end of data");
        connectAndBuffer();
        ASSERT_TRUE(DispatchUntil([&] { return !component.Connected; }));
        std::string text;
        component.CaptureString(text, 10);
        EXPECT_EQ(text, bytes.substr(0, 10));
        component.CaptureString(text, CaptureBuffered);
        EXPECT_TRUE(text == bytes.substr(10));
    }
    {
        SCOPED_TRACE("a reset that comes before anything is captured");
        connectAndBuffer();
        ASSERT_TRUE(DispatchUntil([&] { return !component.Connected; }));
        TMemoryStream stream;
        ExpectRaises<ESockError>([&] { component.CaptureStream(stream, CaptureUntilClose); },
                                 kResetText);
        EXPECT_TRUE(stream.DataString() == bytes);
    }
    {
        SCOPED_TRACE("an orderly close after a reset: the next connection ends well");
        connectAndBuffer();
        std::string text;
        component.CaptureString(text, CaptureUntilClose);
        EXPECT_TRUE(text == bytes);
        EXPECT_EQ(component.CloseErrorNo(), 0);
    }
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Failure(), "");
}

TEST_F(TslinkTest, ReadLnFindsTheLineEndBehindAZeroByte) {
    const std::string first("a\0b\r\n", 5);
    const std::string second("\0\n", 2);
    LoopbackPeer peer;
    // The connection stays open: no close can end the wait for a line.
    peer.Accept().SendInPieces(first + second + "last\r\n", 3, 2).Stall();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    EXPECT_TRUE(component.ReadLn() == first);
    EXPECT_TRUE(component.ReadLn() == second);
    EXPECT_EQ(component.ReadLn(), "last\r\n");
    EXPECT_TRUE(component.Connected);
    peer.Stop();
}

// A response without Content-Length ends at the close, so only the kind of
// close tells a whole page from a cut one.
TEST(KvHttpReset, ABodyWithoutLengthCutByAResetIsAnError) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const std::string bodyFile = directory.filePath("body.bin").toStdString();
    using TSetUp = std::function<void(TKvHTTP&)>;
    const TSetUp intoBody = [](TKvHTTP&) {};
    const TSetUp intoFile = [&](TKvHTTP& http) {
        http.InputFileMode = true;
        http.Header = directory.filePath("head.txt").toStdString();
        http.Body = bodyFile;
    };
    const auto withBound = [](const TSetUp& setUp) -> TSetUp {
        return [setUp](TKvHTTP& http) {
            http.MaxBodySize = 1 << 20;
            setUp(http);
        };
    };

    for (bool reset : { true, false }) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        const std::string expected = reset ? kResetText : "";
        for (bool bounded : { false, true }) {
            SCOPED_TRACE(bounded ? "with a size bound" : "without a size bound");
            const KvHttpWire::Outcome page =
                GetPage(reset, bounded ? withBound(intoBody) : intoBody);
            EXPECT_EQ(page.error, expected);
            // Body keeps what arrived before a reset, and all of it after a close.
            EXPECT_EQ(page.body, kPageBody.substr(0, reset ? page.body.size() : kPageBody.size()));

            EXPECT_EQ(GetPage(reset, bounded ? withBound(intoFile) : intoFile).error, expected);
            const std::string kept = ReadFile(bodyFile);
            EXPECT_EQ(kept, kPageBody.substr(0, reset ? kept.size() : kPageBody.size()));
        }
    }
}

// Whatever phase a reset hits, what comes after it raises the reset, once the
// complete data before it has been taken; an orderly close differs only where
// it leaves the data whole.
TEST_F(TslinkTest, AResetAtEachPhaseIsRaisedByWhatFollows) {
    LoopbackPeer peer;
    // 1: reset as soon as accepted; 2: inside a line; 3: while a send waits
    // for room; 4: an orderly close inside a line.
    peer.SetReceiveBuffer(4096);
    std::promise<void> firstReset;
    const std::future<void> firstResetDone = firstReset.get_future();
    peer.Accept().Reset().Run([&] { firstReset.set_value(); });
    peer.Accept().Send("whole\r\ncut li").WaitForRelease().Reset();
    peer.Accept().Stall().Reset();
    peer.Accept().Send("cut li").Close();
    peer.Start();
    TTessalink component(nullptr);
    {
        SCOPED_TRACE("during connect: every operation after it");
        component.ReportLevel = 8;
        // Hold the thread until the peer has reset, so that the completion
        // and the reset come together in the first wait of Connect.
        component.OnStatus = [&](TComponent*, const std::string& status) {
            if (status == "Timer On") {
                ASSERT_EQ(firstResetDone.wait_for(30s), std::future_status::ready);
            }
        };
        ConnectTo(component, peer.Port());
        component.OnStatus = nullptr;
        component.ReportLevel = 0;
        ASSERT_TRUE(DispatchUntil([&] { return !component.Connected; }));
        ExpectRaises<ESockError>([&] { component.Write("GET"); }, kResetText);
        ExpectRaises<ESockError>([&] { component.ReadLn(); }, kResetText);
        std::string text;
        ExpectRaises<ESockError>([&] { component.CaptureString(text, CaptureUntilClose); },
                                 kResetText);
        EXPECT_EQ(component.CloseErrorNo(), 10054);
    }
    {
        SCOPED_TRACE("inside a line: the whole line, then the reset, never the cut line");
        ConnectTo(component, peer.Port());
        EXPECT_EQ(component.ReadLn(), "whole\r\n");
        ASSERT_TRUE(DispatchUntil([&] { return component.InputBuffer->Count() == 6; }));
        peer.Release();
        ExpectRaises<ESockError>([&] { component.ReadLn(); }, kResetText);
        EXPECT_EQ(component.LastErrorNo, 10054);
        ExpectRaises<ESockError>([&] { component.ReadLn(10); }, kResetText);
        // The cut bytes stay for a capture that wants what is buffered.
        std::string text;
        component.CaptureString(text, CaptureBuffered);
        EXPECT_EQ(text, "cut li");
        ExpectRaises<ESockError>([&] { component.ReadLn(); }, kResetText);
    }
    {
        SCOPED_TRACE("while a send waits for room");
        ConnectTo(component, peer.Port());
        QTimer::singleShot(200, [&] { peer.Release(); });
        ExpectRaises<ESockError>([&] { component.Write(std::string(64 << 20, 's')); }, kResetText);
        // A send may hear of the reset before the close notification does.
        ASSERT_TRUE(DispatchUntil([&] { return !component.Connected; }));
    }
    {
        SCOPED_TRACE("an orderly close inside a line: the rest is the last line");
        ConnectTo(component, peer.Port());
        ASSERT_TRUE(DispatchUntil([&] { return !component.Connected; }));
        EXPECT_EQ(component.ReadLn(), "cut li");
        EXPECT_EQ(component.ReadLn(), "");
        // The socket that follows the close never connected.
        ExpectRaises<ESockError>([&] { component.Write("x"); }, "10057:Socket is not connected");
    }
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Failure(), "");
}

namespace {

// Points TMPDIR, where the receive buffer spills, at a folder that does not
// exist, for as long as it lives.
class UnusableTempFolder {
public:
    UnusableTempFolder() { qputenv("TMPDIR", (m_dir.path() + "/missing").toLocal8Bit()); }
    ~UnusableTempFolder() { m_old.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", m_old); }
    UnusableTempFolder(const UnusableTempFolder&) = delete;
    UnusableTempFolder& operator=(const UnusableTempFolder&) = delete;

private:
    QByteArray m_old = qgetenv("TMPDIR");
    QTemporaryDir m_dir;
};

const std::string kSpillError = "System Error.  Code: 2.\nNo such file or directory";

} // namespace

// Received bytes that the receive buffer cannot keep end the connection with
// the buffer's error, which the readers raise once they have taken the bytes
// before it.
TEST_F(TslinkTest, AReceiveBufferThatCannotSpillEndsTheConnectionWithItsError) {
    const std::string bytes = Bytes(300000);
    LoopbackPeer peer;
    peer.Accept().Send(bytes).ReadToEnd();
    peer.Accept().Send("first\n" + bytes).ReadToEnd();
    peer.Start();
    UnusableTempFolder folder;
    TTessalink component(nullptr);
    component.InputBuffer = std::make_unique<TKvFifoBuffer>(4096);
    std::vector<uint16_t> reported;
    component.OnSocketError = [&](TComponent*, uint16_t errorNo, const std::string&) {
        reported.push_back(errorNo);
    };
    {
        SCOPED_TRACE("a capture until the close");
        ConnectTo(component, peer.Port());
        std::string text;
        ExpectRaises<ESockError>([&] { component.CaptureString(text, CaptureUntilClose); },
                                 kSpillError);
        EXPECT_GE(text.size(), 4096u);
        EXPECT_LT(text.size(), bytes.size());
        EXPECT_TRUE(text == bytes.substr(0, text.size()));
        EXPECT_FALSE(component.Connected);
        EXPECT_EQ(component.CloseErrorNo(), 0);
        ExpectRaises<ESockError>([&] { component.Write("x"); }, kSpillError);
    }
    {
        SCOPED_TRACE("ReadLn");
        ConnectTo(component, peer.Port());
        EXPECT_EQ(component.ReadLn(), "first\n");
        ExpectRaises<ESockError>([&] { component.ReadLn(); }, kSpillError);
    }
    EXPECT_TRUE(reported.empty());

    SCOPED_TRACE("a page of the HTTP component");
    LoopbackPeer server;
    server.Accept().ReadUntil("\r\n\r\n").Send(kPageHead + bytes).ReadToEnd();
    server.Start();
    TKvHTTP http;
    http.TimeOut = 20000;
    http.InputBuffer = std::make_unique<TKvFifoBuffer>(4096);
    ExpectRaises<ESockError>([&] { http.Get(KvHttpWire::Url(server, "/p.htm")); }, kSpillError);
    EXPECT_TRUE(server.WaitDone());
    EXPECT_TRUE(peer.WaitDone());
}

// With a Content-Length the body ends short of it, but the close that the
// buffer forced is not the server's: the buffer's error is the reason given,
// in a string and in a file alike.
TEST_F(TslinkTest, AnAnnouncedBodyCutByTheReceiveBufferEndsWithTheBuffersError) {
    const std::string bytes = Bytes(300000);
    const std::string head =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(bytes.size()) + "\r\n\r\n";
    QTemporaryDir files;
    ASSERT_TRUE(files.isValid());
    for (const bool toFile : { false, true }) {
        SCOPED_TRACE(toFile ? "into a file" : "into Body");
        LoopbackPeer server;
        server.Accept().ReadUntil("\r\n\r\n").Send(head + bytes).ReadToEnd();
        server.Start();
        UnusableTempFolder folder;
        TKvHTTP http;
        http.TimeOut = 20000;
        http.InputBuffer = std::make_unique<TKvFifoBuffer>(4096);
        http.InputFileMode = toFile;
        if (toFile) {
            http.Header = files.filePath("head").toStdString();
            http.Body = files.filePath("body").toStdString();
        }
        ExpectRaises<ESockError>([&] { http.Get(KvHttpWire::Url(server, "/p.htm")); }, kSpillError);
        EXPECT_TRUE(server.WaitDone());
    }
}
