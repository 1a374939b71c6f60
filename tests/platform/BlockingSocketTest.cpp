// A socket that was never registered for notifications blocks: its calls
// wait for what they need and never fail with WSAEWOULDBLOCK, and they end
// with the errors a blocking call ends with.
#include "platform/Winsock.h"

#include "tests/support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace Winsock {
namespace {

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    return address;
}

int Connect(SOCKET s, std::uint16_t port) {
    const sockaddr_in address = LoopbackAddress(port);
    return connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// Everything until the peer closes (or the first failure).
std::string ReceiveAll(SOCKET s) {
    std::string received;
    char buffer[4096];
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;)
        received.append(buffer, static_cast<size_t>(n));
    return received;
}

class BlockingSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    }
    void TearDown() override { WSACleanup(); }

    static SOCKET NewSocket() {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_NE(s, INVALID_SOCKET);
        return s;
    }
};

} // namespace

TEST_F(BlockingSocketTest, SendGoesWholeAndReceiveWaitsForTheReply) {
    // The peer takes the bytes slowly through small buffers at both ends,
    // and replies only once it has them all: the send must wait for room
    // many times, the receive for the reply.
    const std::string request(1 << 20, 'q');
    LoopbackPeer peer;
    peer.SetReceiveBuffer(4096);
    peer.Accept().ReadBytes(request.size()).Send("reply").Close();
    peer.Start();
    SOCKET s = NewSocket();
    const int sendBuffer = 8192;
    ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer),
                         sizeof sendBuffer),
              0);
    ASSERT_EQ(Connect(s, peer.Port()), 0);
    EXPECT_EQ(send(s, request.data(), static_cast<int>(request.size()), 0),
              static_cast<int>(request.size()));
    char first = 0;
    EXPECT_EQ(recv(s, &first, 1, MSG_PEEK), 1) << WSAGetLastError();
    EXPECT_EQ(first, 'r');
    EXPECT_EQ(ReceiveAll(s), "reply");
    EXPECT_EQ(recv(s, &first, 1, 0), 0) << "the end of stream, again";
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Failure(), "");
    EXPECT_EQ(peer.Received().size(), request.size());
    closesocket(s);
}

TEST_F(BlockingSocketTest, ConnectAndReceiveEndWithTheErrorsOfTheNetwork) {
    SOCKET s = NewSocket();
    SCOPED_TRACE("refused, and the same socket connects again");
    EXPECT_EQ(Connect(s, LoopbackPeer::UnusedPort()), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    LoopbackPeer peer;
    peer.Accept().Expect("x").Reset();
    peer.Start();
    ASSERT_EQ(Connect(s, peer.Port()), 0) << WSAGetLastError();
    EXPECT_EQ(Connect(s, peer.Port()), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEISCONN);

    SCOPED_TRACE("a receive that waits hears the reset");
    ASSERT_EQ(send(s, "x", 1, 0), 1);
    char byte = 0;
    EXPECT_EQ(recv(s, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Failure(), "");
    closesocket(s);
}

TEST_F(BlockingSocketTest, AcceptWaitsForAClientAndTheAcceptedSocketBlocksToo) {
    SOCKET listening = NewSocket();
    const sockaddr_in any = LoopbackAddress(0);
    ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(listen(listening, SOMAXCONN), 0);
    sockaddr_in bound {};
    int length = sizeof bound;
    ASSERT_EQ(getsockname(listening, reinterpret_cast<sockaddr*>(&bound), &length), 0);

    // A blocking socket may be used on any thread.
    std::thread client([port = ntohs(bound.sin_port)] {
        SOCKET s = NewSocket();
        EXPECT_EQ(Connect(s, port), 0);
        EXPECT_EQ(send(s, "hello", 5, 0), 5);
        closesocket(s);
    });
    SOCKET accepted = accept(listening, nullptr, nullptr);
    ASSERT_NE(accepted, INVALID_SOCKET) << WSAGetLastError();
    EXPECT_EQ(ReceiveAll(accepted), "hello");
    client.join();
    closesocket(accepted);
    closesocket(listening);
}

TEST_F(BlockingSocketTest, UrgentDataIsNeverWaitedFor) {
    LoopbackPeer peer;
    peer.Accept().WaitForRelease().Close();
    peer.Start();
    SOCKET s = NewSocket();
    ASSERT_EQ(Connect(s, peer.Port()), 0);
    auto urgent = std::async(std::launch::async, [s] {
        char byte = 0;
        return recv(s, &byte, 1, MSG_OOB) == SOCKET_ERROR ? WSAGetLastError() : 0;
    });
    // Should the receive wait, the peer's close ends it and the check fails.
    const bool returned = urgent.wait_for(10s) == std::future_status::ready;
    peer.Release();
    EXPECT_TRUE(returned) << "the receive of urgent data waited";
    EXPECT_EQ(urgent.get(), WSAEINVAL) << "none was announced";
    EXPECT_TRUE(peer.WaitDone());
    closesocket(s);
}

} // namespace Winsock
