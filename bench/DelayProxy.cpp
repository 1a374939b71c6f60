#include "bench/DelayProxy.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadSize = size_t { 64 } * 1024;

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The one owner of a socket or other descriptor.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : m_fd(fd) {}
    ~TFd() { Close(); }
    TFd(TFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    TFd& operator=(TFd&& other) noexcept {
        if (this != &other) {
            Close();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }

    int Get() const { return m_fd; }
    // Closes with a reset instead of an orderly close, so that the far side
    // sees the failure.
    void Abort() {
        if (m_fd < 0)
            return;
        const linger reset { 1, 0 };
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        Close();
    }

private:
    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    int m_fd { -1 };
};

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

void NoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

// Bytes read from one side on their way to the other, or that side's end.
struct TChunk {
    Clock::time_point Due;
    std::string Bytes;
    size_t Written { 0 };
    // The side closed its sending half; no bytes.
    bool End { false };
};

// One direction of a relayed connection.
struct TDirection {
    std::deque<TChunk> Queue;
    // Bytes in the queue not yet written: what the window bounds.
    size_t Queued { 0 };
    bool ReadEnded { false };
    // The end has been passed on with a shutdown.
    bool Closed { false };

    bool CanRead() const { return !ReadEnded && Queued < DelayProxy::kWindow; }
    bool HasDue(Clock::time_point now) const { return !Queue.empty() && Queue.front().Due <= now; }

    // Reads what the socket holds, up to the window; false on an error.
    bool ReadFrom(int fd, Clock::time_point due, std::vector<char>& buffer) {
        while (CanRead()) {
            const ssize_t count = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (count < 0)
                return WouldBlock();
            if (count == 0) {
                Queue.push_back({ due, {}, 0, true });
                ReadEnded = true;
                return true;
            }
            Queue.push_back({ due, std::string(buffer.data(), static_cast<size_t>(count)) });
            Queued += static_cast<size_t>(count);
        }
        return true;
    }

    // Writes the chunks that are due, as far as the socket takes them;
    // false on an error.
    bool WriteTo(int fd, Clock::time_point now) {
        while (HasDue(now)) {
            TChunk& chunk = Queue.front();
            if (chunk.End) {
                // A side that is gone already has nothing left to tell.
                if (::shutdown(fd, SHUT_WR) != 0 && errno != ENOTCONN)
                    return false;
                Closed = true;
                Queue.pop_front();
                continue;
            }
            const ssize_t count =
                ::send(fd, chunk.Bytes.data() + chunk.Written, chunk.Bytes.size() - chunk.Written,
                       MSG_DONTWAIT | MSG_NOSIGNAL);
            if (count < 0)
                return WouldBlock();
            chunk.Written += static_cast<size_t>(count);
            Queued -= static_cast<size_t>(count);
            if (chunk.Written < chunk.Bytes.size())
                return true;
            Queue.pop_front();
        }
        return true;
    }

    // When the head chunk is due, if it waits for its time.
    std::optional<Clock::time_point> Waiting(Clock::time_point now) const {
        if (Queue.empty() || Queue.front().Due <= now)
            return std::nullopt;
        return Queue.front().Due;
    }
};

struct TConnection {
    TFd Client;
    TFd Server;
    bool Connecting { true };
    // Nothing the client sends leaves before this: a round trip after the
    // accept, the handshake's.
    Clock::time_point OpenAt;
    TDirection Up;
    TDirection Down;
    bool Failed { false };

    bool Finished() const { return Failed || (Up.Closed && Down.Closed); }
};

// Whether a socket's poll result ends the connection: an error, or a hang-up
// (a reset, or both halves closed) while something is still to be written
// to it. A hang-up with reading still wanted is left to the read, which
// sees the end or the error.
bool HungUp(short events, bool reading, const TDirection& toIt) {
    if (events & POLLERR)
        return true;
    return (events & POLLHUP) && !reading && !toIt.Closed;
}

} // namespace

class DelayProxy::TRelay {
public:
    explicit TRelay(uint16_t targetPort)
        : m_targetPort(targetPort),
          m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)),
          m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), m_buffer(kReadSize) {
        if (m_listener.Get() < 0)
            throw std::runtime_error(SystemError("delay proxy: socket"));
        if (m_wake.Get() < 0)
            throw std::runtime_error(SystemError("delay proxy: eventfd"));
        const sockaddr_in address = Loopback(0);
        if (::bind(m_listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
                0 ||
            ::listen(m_listener.Get(), 1024) != 0)
            throw std::runtime_error(SystemError("delay proxy: listen"));
    }

    uint16_t Port() const {
        sockaddr_in address {};
        socklen_t size = sizeof address;
        if (::getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error(SystemError("delay proxy: getsockname"));
        return ntohs(address.sin_port);
    }

    void Wake() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wake.Get(), &one, sizeof one);
    }

    // Relays until Wake; throws std::runtime_error when polling fails.
    void Run(const std::atomic<int64_t>& oneWayMicroseconds, std::atomic<uint64_t>& accepted) {
        std::vector<pollfd> polled;
        for (;;) {
            std::optional<Clock::time_point> wakeAt;
            Watch(polled, wakeAt);
            timespec timeOut {};
            if (wakeAt) {
                const auto left = std::max(Clock::duration::zero(), *wakeAt - Clock::now());
                const auto nanoseconds =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
                timeOut.tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
                timeOut.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
            }
            if (::ppoll(polled.data(), polled.size(), wakeAt ? &timeOut : nullptr, nullptr) < 0) {
                if (errno == EINTR)
                    continue;
                throw std::runtime_error(SystemError("delay proxy: ppoll"));
            }
            if (polled[0].revents != 0)
                return;
            // Read after the wait, so that a change made meanwhile applies to
            // what arrived with the wake-up.
            const auto oneWay = std::chrono::microseconds(oneWayMicroseconds.load());
            const auto now = Clock::now();
            for (size_t i = 0; i < m_connections.size(); ++i)
                Serve(*m_connections[i], polled[2 + 2 * i].revents, polled[3 + 2 * i].revents, now,
                      oneWay);
            if (polled[1].revents != 0)
                Accept(now, oneWay, accepted);
            const auto writeTime = Clock::now();
            for (auto& connection : m_connections)
                Flush(*connection, writeTime);
            Sweep();
        }
    }

private:
    // What to wait for: the wake-up, the listener while there is room,
    // and per connection its client and its server; wakeAt is when the
    // first chunk that waits for its time is due.
    void Watch(std::vector<pollfd>& polled, std::optional<Clock::time_point>& wakeAt) const {
        const auto now = Clock::now();
        polled.clear();
        polled.push_back({ m_wake.Get(), POLLIN, 0 });
        polled.push_back({ m_listener.Get(),
                           static_cast<short>(m_connections.size() < kMostConnections ? POLLIN : 0),
                           0 });
        auto earliest = [&wakeAt](std::optional<Clock::time_point> due) {
            if (due && (!wakeAt || *due < *wakeAt))
                wakeAt = due;
        };
        for (const auto& connection : m_connections) {
            short client = 0;
            short server = 0;
            if (connection->Up.CanRead())
                client |= POLLIN;
            if (connection->Down.HasDue(now))
                client |= POLLOUT;
            if (connection->Connecting) {
                server = POLLOUT;
            } else {
                if (connection->Down.CanRead())
                    server |= POLLIN;
                if (connection->Up.HasDue(now))
                    server |= POLLOUT;
            }
            earliest(connection->Up.Waiting(now));
            earliest(connection->Down.Waiting(now));
            polled.push_back({ connection->Client.Get(), client, 0 });
            polled.push_back({ connection->Server.Get(), server, 0 });
        }
    }

    void Accept(Clock::time_point now, std::chrono::microseconds oneWay,
                std::atomic<uint64_t>& accepted) {
        while (m_connections.size() < kMostConnections) {
            TFd client(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (client.Get() < 0)
                return;
            ++accepted;
            auto connection = std::make_unique<TConnection>();
            connection->OpenAt = now + 2 * oneWay;
            connection->Server =
                TFd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            const sockaddr_in target = Loopback(m_targetPort);
            if (connection->Server.Get() < 0 ||
                (::connect(connection->Server.Get(), reinterpret_cast<const sockaddr*>(&target),
                           sizeof target) != 0 &&
                 errno != EINPROGRESS)) {
                client.Abort();
                continue;
            }
            NoDelay(client.Get());
            NoDelay(connection->Server.Get());
            connection->Client = std::move(client);
            m_connections.push_back(std::move(connection));
        }
    }

    // Takes in what the poll reported for one connection.
    void Serve(TConnection& connection, short clientEvents, short serverEvents,
               Clock::time_point now, std::chrono::microseconds oneWay) {
        if (connection.Connecting && serverEvents != 0) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(connection.Server.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 ||
                error != 0) {
                connection.Failed = true;
                return;
            }
            connection.Connecting = false;
            serverEvents = 0;
        }
        const auto due = std::max(now, connection.OpenAt) + oneWay;
        const bool clientReading = connection.Up.CanRead();
        const bool serverReading = !connection.Connecting && connection.Down.CanRead();
        if (HungUp(clientEvents, clientReading, connection.Down) ||
            HungUp(serverEvents, serverReading, connection.Up)) {
            connection.Failed = true;
            return;
        }
        if ((clientEvents & (POLLIN | POLLHUP)) && clientReading &&
            !connection.Up.ReadFrom(connection.Client.Get(), due, m_buffer))
            connection.Failed = true;
        if ((serverEvents & (POLLIN | POLLHUP)) && serverReading &&
            !connection.Down.ReadFrom(connection.Server.Get(), due, m_buffer))
            connection.Failed = true;
    }

    static void Flush(TConnection& connection, Clock::time_point now) {
        if (connection.Failed)
            return;
        if (!connection.Connecting && !connection.Up.WriteTo(connection.Server.Get(), now))
            connection.Failed = true;
        if (!connection.Down.WriteTo(connection.Client.Get(), now))
            connection.Failed = true;
    }

    // Drops the connections that are done; a failed one ends with resets.
    void Sweep() {
        auto done = std::remove_if(m_connections.begin(), m_connections.end(),
                                   [](const std::unique_ptr<TConnection>& connection) {
                                       if (connection->Failed) {
                                           connection->Client.Abort();
                                           connection->Server.Abort();
                                       }
                                       return connection->Finished();
                                   });
        m_connections.erase(done, m_connections.end());
    }

    uint16_t m_targetPort;
    TFd m_listener;
    TFd m_wake;
    std::vector<char> m_buffer;
    std::vector<std::unique_ptr<TConnection>> m_connections;
};

DelayProxy::DelayProxy(uint16_t targetPort) : m_relay(std::make_unique<TRelay>(targetPort)) {
    m_port = m_relay->Port();
    m_thread = std::thread([this] { Run(); });
    if (pthread_getcpuclockid(m_thread.native_handle(), &m_threadClock) != 0) {
        m_relay->Wake();
        m_thread.join();
        throw std::runtime_error("delay proxy: no processor clock for the relay's thread");
    }
}

DelayProxy::~DelayProxy() {
    m_relay->Wake();
    m_thread.join();
}

std::string DelayProxy::Url() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void DelayProxy::SetRoundTrip(std::chrono::microseconds roundTrip) {
    m_oneWayMicroseconds = roundTrip.count() / 2;
}

double DelayProxy::ThreadSeconds() const {
    timespec used {};
    if (::clock_gettime(m_threadClock, &used) != 0)
        return 0;
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
}

std::string DelayProxy::Failure() const {
    std::lock_guard<std::mutex> lock(m_failureLock);
    return m_failure;
}

void DelayProxy::Run() {
    try {
        m_relay->Run(m_oneWayMicroseconds, m_connections);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}

void DelayProxy::Fail(const std::string& why) {
    std::lock_guard<std::mutex> lock(m_failureLock);
    m_failure = why;
}
