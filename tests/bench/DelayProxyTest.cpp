#include "bench/DelayProxy.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One blocking loopback socket, closed by its destructor; reads give up
// after 10 s, so that a lost byte fails the test instead of hanging it.
class TSocket {
public:
    explicit TSocket(int fd) : m_fd(fd) {
        const timeval limit { 10, 0 };
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~TSocket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;

    int Fd() const { return m_fd; }

    // What one read gives; empty at the end.
    std::string ReceiveSome() const {
        std::string bytes(size_t { 64 } * 1024, '\0');
        const ssize_t count = ::recv(m_fd, bytes.data(), bytes.size(), 0);
        bytes.resize(count > 0 ? static_cast<size_t>(count) : 0);
        return bytes;
    }
    std::string ReceiveToEnd() const {
        std::string bytes;
        for (std::string more = ReceiveSome(); !more.empty(); more = ReceiveSome())
            bytes += more;
        return bytes;
    }

    void SendAll(const std::string& bytes) const {
        for (size_t sent = 0; sent < bytes.size();) {
            const ssize_t count =
                ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (count <= 0)
                return;
            sent += static_cast<size_t>(count);
        }
    }
    // Up to `size` bytes, fewer when the peer ends first.
    std::string Receive(size_t size) const {
        std::string bytes(size, '\0');
        size_t have = 0;
        while (have < size) {
            const ssize_t count = ::recv(m_fd, bytes.data() + have, size - have, 0);
            if (count <= 0)
                break;
            have += static_cast<size_t>(count);
        }
        bytes.resize(have);
        return bytes;
    }
    // True when the peer ends (orderly or with a reset) within the time limit.
    bool Ends() const {
        char byte = 0;
        const ssize_t count = ::recv(m_fd, &byte, 1, 0);
        return count == 0 || (count < 0 && errno == ECONNRESET);
    }

private:
    int m_fd;
};

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

uint16_t PortOf(int fd) {
    sockaddr_in address {};
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

int ConnectTo(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return fd;
}

// The proxy's target on 127.0.0.1 port 0: accepts one connection and hands
// it to `serve` on a thread of its own. Without listen, the port refuses.
class TTarget {
public:
    explicit TTarget(std::function<void(const TSocket&)> serve, bool listening = true)
        : m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in address = Loopback(0);
        ::bind(m_listener.Fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (!listening)
            return;
        ::listen(m_listener.Fd(), 4);
        m_thread = std::thread([this, serve = std::move(serve)] {
            const TSocket connection(::accept(m_listener.Fd(), nullptr, nullptr));
            if (connection.Fd() >= 0)
                serve(connection);
        });
    }
    ~TTarget() {
        ::shutdown(m_listener.Fd(), SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
    }
    TTarget(const TTarget&) = delete;
    TTarget& operator=(const TTarget&) = delete;

    uint16_t Port() const { return PortOf(m_listener.Fd()); }

private:
    TSocket m_listener;
    std::thread m_thread;
};

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7919) >> 5);
    return bytes;
}

} // namespace

// Each row sends a message and has it back, twice on one connection, then
// half-closes. The target echoes as bytes come, or answers only once the
// client's end has reached it (the half-close passed on); a message larger
// than the proxy's window must pass whole all the same.
TEST(DelayProxy, RelaysBothWaysWithTheRoundTripAndPassesHalfCloses) {
    struct Row {
        const char* name;
        int roundTrip;
        size_t size;
        bool answerAtEnd;
    };
    const Row rows[] = {
        { "no delay, small", 0, 100, false },
        { "40 ms, small", 40, 100, false },
        { "40 ms, 3 MiB", 40, size_t { 3 } << 20, false },
        { "no delay, beyond the window", 0, DelayProxy::kWindow * 2 + 12345, false },
        { "40 ms, answer after the client's end", 40, 1000, true },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TTarget target([&row](const TSocket& connection) {
            if (row.answerAtEnd) {
                connection.SendAll(connection.ReceiveToEnd());
                return;
            }
            for (std::string bytes = connection.ReceiveSome(); !bytes.empty();
                 bytes = connection.ReceiveSome())
                connection.SendAll(bytes);
        });
        DelayProxy proxy(target.Port());
        proxy.SetRoundTrip(milliseconds(row.roundTrip));
        const std::string message = Pattern(row.size);

        const auto start = Clock::now();
        const TSocket client(ConnectTo(proxy.Port()));
        // The client writes on a thread: with a large message the proxy's
        // window fills until the client reads.
        std::thread writer([&client, &message, &row] {
            client.SendAll(message);
            if (row.answerAtEnd)
                ::shutdown(client.Fd(), SHUT_WR);
        });
        EXPECT_EQ(client.Receive(message.size()), message);
        writer.join();
        // A new connection: the handshake's round trip and the message's.
        EXPECT_GE(MillisecondsSince(start), 2 * row.roundTrip);
        if (row.answerAtEnd) {
            EXPECT_TRUE(client.Ends());
            continue;
        }

        const auto again = Clock::now();
        client.SendAll("again");
        EXPECT_EQ(client.Receive(5), "again");
        EXPECT_GE(MillisecondsSince(again), row.roundTrip);
        EXPECT_LT(MillisecondsSince(again), row.roundTrip + 2000);

        ::shutdown(client.Fd(), SHUT_WR);
        EXPECT_TRUE(client.Ends());
        EXPECT_EQ(proxy.Connections(), 1U);
        EXPECT_EQ(proxy.Failure(), "");
    }
}

// A target that refuses ends the client's connection rather than leaving
// it open; a target that never reads makes the proxy stop reading too, so
// the client cannot pour more into it than the window and the sockets'
// buffers hold.
TEST(DelayProxy, EndsClientsOfARefusingTargetAndBoundsWhatItHolds) {
    {
        const TTarget refusing(nullptr, false);
        DelayProxy proxy(refusing.Port());
        const TSocket client(ConnectTo(proxy.Port()));
        EXPECT_TRUE(client.Ends());
    }
    {
        int pair[2] = { -1, -1 };
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        const TSocket hold(pair[0]);
        const TSocket go(pair[1]);
        // Holds the connection unread until the test lets go.
        TTarget stalling([&hold](const TSocket&) { hold.Receive(1); });
        DelayProxy proxy(stalling.Port());
        const TSocket client(ConnectTo(proxy.Port()));
        const std::string chunk(size_t { 1 } << 20, 'w');
        size_t sent = 0;
        const size_t enough = size_t { 64 } << 20;
        // Until the sends have made no headway for half a second.
        auto progress = Clock::now();
        while (sent < enough && MillisecondsSince(progress) < 500) {
            const ssize_t count =
                ::send(client.Fd(), chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (count > 0) {
                sent += static_cast<size_t>(count);
                progress = Clock::now();
            } else {
                std::this_thread::sleep_for(milliseconds(10));
            }
        }
        EXPECT_LT(sent, enough);
        EXPECT_GE(sent, DelayProxy::kWindow);
        go.SendAll("x");
    }
}
