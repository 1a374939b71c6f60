#include "tests/net/TslinkTestSupport.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/LoopbackSockets.h"
#include "toolkit/runtime/TFileStream.h"
#include "toolkit/runtime/TMemoryStream.h"

#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <random>
#include <utility>

namespace {

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

} // namespace

TEST_F(TslinkTest, WriteAndWritelnPutExactlyTheirBytesOnTheWire) {
    LoopbackPeer peer;
    peer.Accept().ReadToEnd();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());

    const std::string limit(65535, 'a');
    const std::string overLimit(65536, 'b');
    std::string longWithZero = RandomBytes(70000, 7);
    longWithZero[10] = '\0';
    std::string expected;

    component.Writeln("GET / HTTP/1.0");
    expected += "GET / HTTP/1.0\r\n";
    component.Writeln("");
    expected += "\r\n";
    component.SentCount = 0;
    component.Write(limit); // one buffer, not counted
    expected += limit;
    EXPECT_EQ(component.SentCount, 0);
    component.Write(overLimit); // through a stream, counted
    expected += overLimit;
    EXPECT_EQ(component.SentCount, 65536);
    EXPECT_EQ(component.SendTotal, 65536);
    component.Write(std::string("ab\0cd", 5));
    expected += "ab";
    component.Write(longWithZero);
    expected += longWithZero;
    component.Disconnect();

    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Failure(), "");
    EXPECT_EQ(peer.Received().size(), expected.size());
    EXPECT_TRUE(peer.Received() == expected);
}

TEST_F(TslinkTest, WriteReportsItsSteps) {
    LoopbackPeer peer;
    peer.Accept().ReadToEnd();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    StatusLog log;
    log.Attach(component);
    component.ReportLevel = 8;
    component.Writeln("x");
    EXPECT_EQ(log.Texts, (std::vector<std::string> { "Writeln", "Write", "Sending Buffer",
                                                     "Timer On", "Timer Off" }));
    log.Texts.clear();
    component.ReportLevel = 4;
    component.Write("y");
    EXPECT_EQ(log.Texts, std::vector<std::string> { "Sending Buffer" });
}

TEST_F(TslinkTest, ReadLnReturnsLinesAsReceived) {
    LoopbackPeer peer;
    const std::string lines = "HTTP/1.0 200 OK\r\nServer: x\n\r\n\nlast line\r\n";
    peer.Accept()
        .SendInPieces(lines, 3, 1)
        .WaitForRelease()
        .Send("one\r\ntwo\r\n")
        .WaitForRelease()
        .Send("cut li")
        .Close();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());

    // Pieces of one byte: every line is assembled from many notifications.
    EXPECT_EQ(component.ReadLn(), "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(component.ReadLn(), "Server: x\n");
    EXPECT_EQ(component.ReadLn(), "\r\n");
    EXPECT_EQ(component.ReadLn(), "\n");
    EXPECT_EQ(component.ReadLn(), "last line\r\n");

    // Two lines buffered: the first is taken, the second stays.
    peer.Release();
    ASSERT_TRUE(DispatchUntil([&] { return component.InputBuffer->Count() == 10; }));
    EXPECT_EQ(component.ReadLn(), "one\r\n");
    EXPECT_EQ(component.InputBuffer->Count(), 5);
    EXPECT_EQ(component.ReadLn(), "two\r\n");

    // The peer closes in the middle of a line: the rest comes back without a
    // line end, and then nothing, instead of a wait that never ends.
    peer.Release();
    EXPECT_EQ(component.ReadLn(), "cut li");
    EXPECT_FALSE(component.Connected);
    EXPECT_EQ(component.ReadLn(), "");
    EXPECT_TRUE(peer.WaitDone());
}

TEST_F(TslinkTest, BoundedReadLnStopsWaitingOnceALineOutgrowsItsBound) {
    LoopbackPeer peer;
    peer.Accept().Send("short\r\n" + std::string(20, 'x')).WaitForRelease();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());

    // A line within the bound comes back whole.
    EXPECT_EQ(component.ReadLn(10), "short\r\n");
    // No line end among more than the bound: the call returns on an open
    // connection with one byte over the bound, and the rest stays buffered.
    ASSERT_TRUE(DispatchUntil([&] { return component.InputBuffer->Count() == 20; }));
    EXPECT_EQ(component.ReadLn(10), std::string(11, 'x'));
    EXPECT_TRUE(component.Connected);
    EXPECT_EQ(component.InputBuffer->Count(), 9);
    peer.Release();
}

// Lines of every kind (zero bytes, lone LF, CR LF, long ones, a last one
// without its end) in a receive buffer whose small memory part spills into
// its file: a line found in memory, one that starts there and ends in the
// file, and one behind a refill all come out as a plain search of the bytes
// would cut them, with or without a bound.
TEST_F(TslinkTest, ReadLnCutsLinesAsThePlainSearchWouldWhereverTheyAreBuffered) {
    std::mt19937 random(20261207);
    const std::string alphabet = std::string("ab\r\n\n\0 ", 8);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        TTessalink component(nullptr);
        // Reports that pass take ReadLn's every step; silenced ones let a
        // buffered line skip them.
        component.ReportLevel = round % 2 == 0 ? 0 : 8;
        component.InputBuffer = std::make_unique<TKvFifoBuffer>(1 + random() % 64);
        std::string model;
        for (size_t n = random() % 400; n > 0; --n)
            model += alphabet[random() % alphabet.size()];
        // In several appends, so that some bytes go to memory after the
        // file has taken some.
        for (size_t at = 0; at < model.size();) {
            const size_t piece = std::min<size_t>(1 + random() % 90, model.size() - at);
            component.InputBuffer->Append(model.data() + at, static_cast<int32_t>(piece));
            at += piece;
        }
        // No connection: once the buffer holds no line end, the rest is the
        // last line.
        while (!model.empty()) {
            const int32_t bound = random() % 3 == 0 ? static_cast<int32_t>(random() % 20) : -1;
            size_t take = std::min(model.find('\n'), model.size() - 1) + 1;
            if (bound >= 0)
                take = std::min(take, static_cast<size_t>(bound) + 1);
            // Each ReadLn starts its limit afresh and leaves it stopped.
            component.TimedOut = true;
            ASSERT_EQ(component.ReadLn(bound), model.substr(0, take)) << "bound " << bound;
            EXPECT_FALSE(component.TimedOut);
            EXPECT_FALSE(component.Timer->Enabled());
            model.erase(0, take);
            ASSERT_EQ(component.InputBuffer->Count(), static_cast<int32_t>(model.size()));
        }
    }
}

TEST_F(TslinkTest, ReadLnTimeOutAbortsAndKeepsThePartialLine) {
    LoopbackPeer peer;
    peer.Accept().Send("par").WaitForRelease();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return component.InputBuffer->Count() == 3; }));
    component.TimeOut = 200;
    ExpectRaises<EAbortError>([&] { component.ReadLn(); }, "Socket readln aborted");
    EXPECT_TRUE(component.TimedOut);
    EXPECT_FALSE(component.Canceled);
    EXPECT_EQ(component.InputBuffer->Count(), 3);
    EXPECT_TRUE(component.Connected);
    peer.Release();
}

TEST_F(TslinkTest, TransactionTakesTheReplyCode) {
    LoopbackPeer peer;
    peer.Accept()
        .Expect("HELO a\r\n")
        .Send("250 Ok there\r\n")
        .Expect("NOOP\r\n")
        .Send("Hello\r\n")
        .Expect("BIG\r\n")
        .Send("99999 too big\r\n")
        .Expect("HUGE\r\n")
        .Send("123456789012 huge\r\n")
        .ReadToEnd();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    StatusLog log;
    log.Attach(component);
    component.ReportLevel = 1;

    EXPECT_EQ(component.Transaction("HELO a"), "250 Ok there\r\n");
    EXPECT_EQ(component.ReplyCode, 250);
    EXPECT_EQ(component.LastReply, "250 Ok there\r\n");
    EXPECT_EQ(log.Texts, std::vector<std::string> { "250 Ok there\r\n" });
    EXPECT_EQ(component.Transaction("NOOP"), "Hello\r\n");
    EXPECT_EQ(component.ReplyCode, 0);
    component.Transaction("BIG");
    EXPECT_EQ(component.ReplyCode, 0);
    component.Transaction("HUGE");
    EXPECT_EQ(component.ReplyCode, 0);
    component.Disconnect();
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Failure(), "");
}

TEST_F(TslinkTest, CaptureStringTakesEverythingUntilThePeerCloses) {
    const std::string small = RandomBytes(300, 1);
    for (unsigned seed : { 1u, 2u, 3u }) {
        SCOPED_TRACE(seed);
        LoopbackPeer peer;
        peer.Accept().SendInPieces(small, seed, 37).Close();
        peer.Start();
        TTessalink component(nullptr);
        ConnectTo(component, peer.Port());
        int packets = 0;
        component.OnPacketRecvd = [&](TComponent*) { ++packets; };
        std::string body = "old content";
        component.CaptureString(body, CaptureUntilClose);
        EXPECT_TRUE(body == small);
        EXPECT_EQ(component.ReceivedCount, 300);
        EXPECT_GE(packets, 1);
        EXPECT_FALSE(component.Connected);
    }

    const std::string large = RandomBytes(50 * 1024 * 1024, 9);
    LoopbackPeer peer;
    peer.Accept().Send(large).Close();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    std::string body;
    component.CaptureString(body, CaptureUntilClose);
    EXPECT_EQ(body.size(), large.size());
    EXPECT_TRUE(body == large);
    EXPECT_EQ(component.ReceivedCount, static_cast<int32_t>(large.size()));
}

TEST_F(TslinkTest, AReadThatFindsTheEndClosesTheConnectionAtOnce) {
    // 64 KiB fill a 64 KiB buffer in one read, so the next read is the one
    // that returns nothing: that read is the close. The connection ends
    // there, before the last byte is even taken, and no close notification
    // is needed (OnDisconnect fires once, not once more for a notification).
    const std::string bytes = RandomBytes(65536, 12);
    LoopbackPeer peer;
    peer.Accept().WaitForRelease().Send(bytes).Close();
    peer.Start();
    TTessalink component(nullptr);
    component.InputBuffer = std::make_unique<TKvFifoBuffer>(65536);
    int disconnects = 0;
    component.OnDisconnect = [&](TComponent*) { ++disconnects; };
    ConnectTo(component, peer.Port());
    // The bytes and the end are there before the first read.
    peer.Release();
    ASSERT_TRUE(peer.WaitDone());
    std::string body;
    component.CaptureString(body, 65536);
    EXPECT_TRUE(body == bytes);
    EXPECT_FALSE(component.Connected);
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(component.InputBuffer->Count(), 0);
}

TEST_F(TslinkTest, AHundredMegabytesArriveByteIdenticalInBoundedSteps) {
    // Bytes that tell their own position, so that a piece out of order or
    // twice cannot go unnoticed.
    std::string large(100 * 1000 * 1000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>((i * 2654435761u) >> 24 ^ i / 65536);
    struct Case {
        const char* name;
        int32_t capacity; // 0: the buffer the component makes
    };
    for (const Case& each : { Case { "received into the tail", 0 },
                              Case { "spilled and received behind the file", 256 * 1024 } }) {
        SCOPED_TRACE(each.name);
        LoopbackPeer peer;
        peer.Accept().Send(large).Close();
        peer.Start();
        TTessalink component(nullptr);
        if (each.capacity > 0)
            component.InputBuffer = std::make_unique<TKvFifoBuffer>(each.capacity);
        ConnectTo(component, peer.Port());
        int arrivals = 0;
        int32_t largestStep = 0;
        int32_t before = 0;
        component.OnDataArrived = [&](TComponent*) {
            ++arrivals;
            largestStep = std::max(largestStep, component.InputBuffer->Count() - before);
            before = component.InputBuffer->Count();
        };
        component.OnPacketRecvd = [&](TComponent*) { before = component.InputBuffer->Count(); };
        std::string body;
        component.CaptureString(body, CaptureUntilClose);
        ASSERT_EQ(body.size(), large.size());
        const auto differ = std::mismatch(body.begin(), body.end(), large.begin());
        EXPECT_TRUE(differ.first == body.end())
            << "first difference at byte " << differ.first - body.begin();
        // One read notification takes at most 1 MiB and leaves the rest to
        // the next one, so the capture takes the body while it arrives.
        EXPECT_LE(largestStep, 1 << 20);
        EXPECT_GE(arrivals, 95);
        EXPECT_TRUE(peer.WaitDone());
    }
}

TEST_F(TslinkTest, CaptureWithACountStopsThereOnAnOpenConnection) {
    LoopbackPeer peer;
    peer.Accept().WaitForRelease().Send("0123456789").ReadToEnd();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());

    std::string text = "x";
    component.CaptureString(text, CaptureBuffered); // nothing buffered: returns at once
    EXPECT_EQ(text, "");
    peer.Release();

    component.CaptureString(text, 4);
    EXPECT_EQ(text, "0123");
    TMemoryStream stream;
    component.CaptureStream(stream, 3);
    EXPECT_EQ(stream.DataString(), "456");
    component.CaptureStream(stream, 0); // nothing more wanted: no wait
    EXPECT_EQ(stream.DataString(), "456");
    ASSERT_TRUE(DispatchUntil([&] { return component.InputBuffer->Count() == 3; }));
    component.CaptureString(text, CaptureBuffered);
    EXPECT_EQ(text, "789");
    EXPECT_TRUE(component.Connected);
    component.Disconnect();
    EXPECT_TRUE(peer.WaitDone());
}

TEST_F(TslinkTest, CaptureStreamAndCaptureFile) {
    const std::string bytes = RandomBytes(200000, 4);
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const std::string fileName = directory.filePath("capture.bin").toStdString();
    LoopbackPeer peer;
    peer.Accept().SendInPieces(bytes, 5, 40000, 0ms).Close().Accept().Send(bytes).Close();
    peer.Start();
    TTessalink component(nullptr);

    ConnectTo(component, peer.Port());
    TMemoryStream stream;
    component.CaptureStream(stream, CaptureUntilClose);
    EXPECT_TRUE(stream.DataString() == bytes);
    EXPECT_EQ(component.ReceivedCount, 200000);

    ConnectTo(component, peer.Port());
    WriteFile(fileName, "previous content that is longer than nothing");
    component.CaptureFile(fileName);
    EXPECT_TRUE(ReadFile(fileName) == bytes);

    // With nothing buffered on a closed connection, one pass ends it.
    TMemoryStream empty;
    int passes = 0;
    component.OnPacketRecvd = [&](TComponent*) { ++passes; };
    component.CaptureStream(empty, 0);
    EXPECT_EQ(empty.Size(), 0);
    EXPECT_EQ(passes, 1);
    EXPECT_TRUE(peer.WaitDone());
}

TEST_F(TslinkTest, SendFileAndSendStreamCountWhatTheySend) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const std::string exact = RandomBytes(65536, 11);
    const std::string oneMore = RandomBytes(65537, 12);
    const std::string streamed = RandomBytes(100000, 13);
    const std::string exactName = directory.filePath("exact").toStdString();
    const std::string oneMoreName = directory.filePath("one-more").toStdString();
    WriteFile(exactName, exact);
    WriteFile(oneMoreName, oneMore);

    LoopbackPeer peer;
    peer.Accept().ReadToEnd();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    int packets = 0;
    component.OnPacketSent = [&](TComponent*) { ++packets; };

    component.SentCount = 5;
    component.SendFile(exactName);
    EXPECT_EQ(component.SentCount, 5 + 65536);
    EXPECT_GE(packets, 1);
    component.SendFile(oneMoreName);
    EXPECT_EQ(component.SentCount, 5 + 65536 + 65537);
    EXPECT_GE(packets, 2);
    EXPECT_FALSE(component.Timer->Enabled()); // no time limit left behind

    TMemoryStream stream(streamed);
    stream.SetPosition(500); // sent from its start all the same
    packets = 0;
    component.SendStream(stream);
    EXPECT_EQ(component.SentCount, 100000);
    EXPECT_EQ(component.SendTotal, 100000);
    EXPECT_GE(packets, 2);
    EXPECT_FALSE(component.Timer->Enabled());

    ExpectRaises<EFOpenError>(
        [&] { component.SendFile(directory.filePath("missing").toStdString()); },
        EFOpenError(directory.filePath("missing").toStdString(), ENOENT).Message());
    component.Disconnect();
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_TRUE(peer.Received() == exact + oneMore + streamed);
}

TEST_F(TslinkTest, SendingToAStalledReaderWaitsUntilCanceled) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const std::string fileName = directory.filePath("big").toStdString();
    WriteFile(fileName, std::string(20 * 1024 * 1024, 'z'));

    LoopbackPeer peer;
    peer.SetReceiveBuffer(4096);
    peer.Accept().Stall().Accept().Stall();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());

    // A cancel from a handler while the send waits for room.
    QTimer::singleShot(200, [&] { component.Cancel(); });
    ExpectRaises<EAbortError>([&] { component.SendFile(fileName); }, "Socket send aborted");
    EXPECT_GT(component.SentCount, 0);
    EXPECT_LT(component.SentCount, 20 * 1024 * 1024);
    EXPECT_FALSE(component.Canceled);

    // SendBuffer waits the same way, and its time limit reaches it, also on
    // a renewed socket, which hears write notifications only once a send
    // asks for them.
    component.Disconnect();
    peer.Release();
    ConnectTo(component, peer.Port());
    component.TimeOut = 200;
    const std::string chunk(65535, 'w');
    ExpectRaises<EAbortError>(
        [&] {
            for (int i = 0; i < 1000; ++i)
                component.Write(chunk);
        },
        "Socket send aborted");
    EXPECT_TRUE(component.TimedOut);
    EXPECT_FALSE(component.Canceled);
    peer.Stop();
}

// The time limit bounds the silence between the blocks of a stream, as it
// does between those of a file, so a long text to a peer that stops reading
// ends too.
TEST_F(TslinkTest, SendStreamStopsAtTheTimeLimitWhenTheReaderStalls) {
    LoopbackPeer peer;
    peer.SetReceiveBuffer(4096);
    peer.Accept().Stall();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    component.TimeOut = 200;
    const std::string text(32 << 20, 't');
    ExpectRaises<EAbortError>([&] { component.Write(text); }, "Socket send aborted");
    EXPECT_TRUE(component.TimedOut);
    EXPECT_FALSE(component.Canceled);
    EXPECT_FALSE(component.Timer->Enabled());
    EXPECT_GT(component.SentCount, 0);
    EXPECT_LT(component.SentCount, static_cast<int32_t>(text.size()));
    peer.Stop();
}

TEST_F(TslinkTest, SendBufferGoesOnWhenASlowReaderDrains) {
    const std::string chunk(65535, 'q');
    const int chunks = 128; // more than the kernel buffers between the two ends
    LoopbackPeer peer;
    peer.SetReceiveBuffer(4096);
    peer.Accept().ReadToEnd().Accept().Stall().ReadBytes(chunk.size() * chunks);
    peer.Start();
    TTessalink component(nullptr);
    // The second socket is a renewed one: it hears write notifications only
    // once a send asks for them.
    ConnectTo(component, peer.Port());
    component.Disconnect();
    ConnectTo(component, peer.Port());

    QTimer::singleShot(100, [&] { peer.Release(); });
    for (int i = 0; i < chunks; ++i)
        component.Write(chunk);
    EXPECT_FALSE(component.TimedOut);
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Failure(), "");
    EXPECT_EQ(peer.Received().size(), chunk.size() * chunks);
}

TEST_F(TslinkTest, EveryTransferAbortsWithItsOwnText) {
    LoopbackPeer peer;
    peer.Accept().ReadToEnd();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    QTemporaryDir directory;
    const std::string fileName = directory.filePath("f").toStdString();
    WriteFile(fileName, "data");

    const struct {
        const char* operation;
        std::function<void()> call;
        const char* message;
    } cases[] = {
        { "SendBuffer", [&] { component.SendBuffer("abc", 3); }, "Socket send aborted" },
        { "Write", [&] { component.Write("abc"); }, "Socket send aborted" },
        { "SendFile", [&] { component.SendFile(fileName); }, "Socket send aborted" },
        { "SendStream",
          [&] {
              TMemoryStream s("abc");
              component.SendStream(s);
          },
          "Socket send aborted" },
        { "ReadLn", [&] { component.ReadLn(); }, "Socket readln aborted" },
        { "CaptureStream",
          [&] {
              TMemoryStream s;
              component.CaptureStream(s, CaptureUntilClose);
          },
          "Socket capture aborted" },
        { "CaptureString",
          [&] {
              std::string s;
              component.CaptureString(s, CaptureUntilClose);
          },
          "Socket capture aborted" },
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.operation);
        component.Cancel();
        ExpectRaises<EAbortError>(each.call, each.message);
        EXPECT_FALSE(component.Canceled);
    }

    // A cancel during the wait of a capture.
    QTimer::singleShot(20, [&] { component.Cancel(); });
    std::string text;
    ExpectRaises<EAbortError>([&] { component.CaptureString(text, CaptureUntilClose); },
                              "Socket capture aborted");
    component.Disconnect();
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Received(), "");
}

TEST_F(TslinkTest, ReadNotificationBetweenOperationsLeavesTheWaitSignalled) {
    LoopbackPeer peer;
    peer.Accept().Send(RandomBytes(300000, 3)).ReadToEnd();
    peer.Start();
    TTessalink component(nullptr);
    int arrivals = 0;
    component.OnDataArrived = [&](TComponent*) { ++arrivals; };
    ConnectTo(component, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return component.InputBuffer->Count() == 300000; }));
    EXPECT_TRUE(component.WaitEvent->IsSet());
    EXPECT_GE(arrivals, 1);
    component.Disconnect();
    EXPECT_TRUE(peer.WaitDone());
}

TEST_F(TslinkTest, AcceptTakesOverAnIncomingConnection) {
    TTessalink component(nullptr);
    Winsock::sockaddr_in address;
    address.sin_family = Winsock::AF_INET;
    address.sin_addr.s_addr = Winsock::htonl(Winsock::INADDR_LOOPBACK);
    int length = sizeof address;
    const auto name = reinterpret_cast<Winsock::sockaddr*>(&address);
    ASSERT_EQ(Winsock::bind(component.SocketHandle, name, sizeof address), 0);
    ASSERT_EQ(Winsock::listen(component.SocketHandle, 5), 0);
    ASSERT_EQ(Winsock::getsockname(component.SocketHandle, name, &length), 0);
    Winsock::WSAAsyncSelect(component.SocketHandle, component.EventWindow(), LookupDoneMessage,
                            Winsock::FD_ACCEPT);
    StatusLog log;
    log.Attach(component);
    component.ReportLevel = 4;

    LoopbackClient client(Winsock::ntohs(address.sin_port));
    const uint16_t accepted = component.Accept();
    EXPECT_EQ(log.Texts, std::vector<std::string> { "Accepting" });
    EXPECT_NE(accepted, component.SocketHandle);
    EXPECT_EQ(component.RemoteAddress.sin_family, Winsock::AF_INET);
    EXPECT_EQ(component.RemoteAddress.sin_addr.s_addr, Winsock::htonl(Winsock::INADDR_LOOPBACK));
    EXPECT_EQ(Winsock::ntohs(component.RemoteAddress.sin_port), client.LocalPort());
    EXPECT_TRUE(component.Connected);
    Winsock::closesocket(accepted);

    // No connection is waiting now: the platform's refusal is raised.
    ExpectRaises<ESockError>([&] { component.Accept(); }, "10035:Operation would block");

    component.AsyncDone = false;
    SendMessage(component.EventWindow(), LookupDoneMessage, 0,
                Winsock::WSAMAKESELECTREPLY(Winsock::FD_ACCEPT, 10053));
    ExpectRaises<ESockError>([&] { component.Accept(); }, "Error creating Data Connection");

    component.AsyncDone = false;
    QTimer::singleShot(20, [&] { component.Cancel(); });
    ExpectRaises<ESockError>([&] { component.Accept(); }, "Accepting Canceled");
    EXPECT_TRUE(component.Canceled);
}

// An operation that finds its bytes already buffered needs no wait, yet its
// time limit still bounds whatever its handlers do meanwhile: a handler that
// turns the event loop past the limit has the operation end as timed out,
// and no limit is left running afterwards.
TEST_F(TslinkTest, TheTimeLimitBoundsHandlersOfOperationsThatFindTheirBytesBuffered) {
    LoopbackPeer peer;
    peer.Accept().Send("line\r\nbody").WaitForRelease();
    peer.Start();
    TTessalink component(nullptr);
    ConnectTo(component, peer.Port());
    ASSERT_TRUE(DispatchUntil([&] { return component.InputBuffer->Count() == 10; }));
    component.TimeOut = 100;
    const auto turnUntilTimedOut = [&] {
        EXPECT_TRUE(DispatchUntil([&] { return component.TimedOut; }, std::chrono::seconds(10)));
    };
    {
        SCOPED_TRACE("ReadLn: the status report after the line was found");
        component.ReportLevel = 8;
        // The time limit's own stop reports "Timer Off" again, from inside
        // the first report's turn.
        bool turned = false;
        component.OnStatus = [&](TComponent*, const std::string& status) {
            if (status == "Timer Off" && !std::exchange(turned, true))
                turnUntilTimedOut();
        };
        ExpectRaises<EAbortError>([&] { component.ReadLn(); }, "Socket readln aborted");
        component.OnStatus = nullptr;
        component.ReportLevel = 0;
        EXPECT_FALSE(component.Timer->Enabled());
    }
    {
        SCOPED_TRACE("CaptureString: the packet handler");
        component.OnPacketRecvd = [&](TComponent*) { turnUntilTimedOut(); };
        std::string text;
        ExpectRaises<EAbortError>([&] { component.CaptureString(text, CaptureBuffered); },
                                  "Socket capture aborted");
        component.OnPacketRecvd = nullptr;
        EXPECT_EQ(text, "body");
        EXPECT_FALSE(component.Timer->Enabled());
    }
    peer.Release();
}
