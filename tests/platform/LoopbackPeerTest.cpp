#include "tests/support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A blocking client on 127.0.0.1; -1 when the connection is refused.
int ConnectTo(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string ReadAll(int fd) {
    std::string all;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        all.append(buffer, static_cast<size_t>(n));
    return all;
}

void SendText(int fd, const std::string& text) {
    ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(text.size()));
}

} // namespace

TEST(LoopbackPeer, PlaysItsScriptAndRecordsWhatItRead) {
    std::string body(5000, 'x');
    LoopbackPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").Expect("tail").SendInPieces(body, 9, 300).Close();
    peer.Start();
    int fd = ConnectTo(peer.Port());
    ASSERT_GE(fd, 0);
    SendText(fd, "GET / HTTP/1.0\r\n\r\ntail");
    EXPECT_EQ(ReadAll(fd), body);
    ::close(fd);
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Received(), "GET / HTTP/1.0\r\n\r\ntail");
    EXPECT_EQ(peer.Failure(), "");
    EXPECT_EQ(peer.AcceptedCount(), 1);
}

TEST(LoopbackPeer, ReportsWhatWentWrong) {
    SCOPED_TRACE("bytes that differ from the expectation");
    LoopbackPeer peer;
    peer.Accept().Expect("abc").Send("never");
    peer.Start();
    int fd = ConnectTo(peer.Port());
    SendText(fd, "abd");
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_NE(peer.Failure().find("expected \"abc\""), std::string::npos) << peer.Failure();
    EXPECT_EQ(ReadAll(fd), "") << "the script ended at the failed step";
    ::close(fd);

    SCOPED_TRACE("the client closes before the delimiter");
    LoopbackPeer early;
    early.Accept().ReadUntil("\n");
    early.Start();
    int second = ConnectTo(early.Port());
    SendText(second, "no line end");
    ::close(second);
    ASSERT_TRUE(early.WaitDone());
    EXPECT_NE(early.Failure(), "");

    SCOPED_TRACE("stopped while stalled or still accepting");
    int third = -1;
    {
        LoopbackPeer stalled;
        stalled.Accept().Stall().Send("late");
        stalled.Start();
        third = ConnectTo(stalled.Port());
        stalled.Stop();
        ASSERT_TRUE(stalled.WaitDone());
    }
    EXPECT_EQ(ReadAll(third), "") << "the peer went without sending";
    ::close(third);
}

TEST(LoopbackPeer, UnusedPortRefusesConnections) {
    EXPECT_EQ(ConnectTo(LoopbackPeer::UnusedPort()), -1);
}
