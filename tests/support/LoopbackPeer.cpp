#include "tests/support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

std::string SystemText(const char* call) {
    return std::string(call) + ": " + std::strerror(errno);
}

int ListenOnLoopback(const std::string& host, std::uint16_t* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(SystemText("socket"));
    sockaddr_in address {};
    address.sin_family = AF_INET;
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        ::close(fd);
        throw std::runtime_error("not an IPv4 address: " + host);
    }
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::listen(fd, 16) < 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) < 0) {
        std::string message = SystemText("listen");
        ::close(fd);
        throw std::runtime_error(message);
    }
    *port = ntohs(address.sin_port);
    return fd;
}

} // namespace

LoopbackPeer::LoopbackPeer(std::string address) : m_address(std::move(address)) {
    if (::pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) < 0)
        throw std::runtime_error(SystemText("pipe"));
    m_listenFd = ListenOnLoopback(m_address, &m_port);
}

LoopbackPeer::~LoopbackPeer() {
    Stop();
    if (m_thread.joinable())
        m_thread.join();
    CloseConnection();
    ::close(m_listenFd);
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
}

std::uint16_t LoopbackPeer::UnusedPort() {
    std::uint16_t port = 0;
    ::close(ListenOnLoopback("127.0.0.1", &port));
    return port;
}

LoopbackPeer& LoopbackPeer::Accept() {
    m_steps.push_back([this] {
        CloseConnection();
        if (!WaitFd(m_listenFd, POLLIN))
            return Outcome::Stop;
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return Fail(SystemText("accept"));
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        m_connectionFd = fd;
        m_connectionReceived.clear();
        std::lock_guard lock(m_mutex);
        ++m_accepted;
        m_changed.notify_all();
        return Outcome::Next;
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::Expect(std::string expected) {
    m_steps.push_back([this, expected] {
        size_t start = m_connectionReceived.size();
        while (m_connectionReceived.size() - start < expected.size()) {
            size_t got = 0;
            Outcome outcome =
                ReadSome(expected.size() - (m_connectionReceived.size() - start), &got);
            if (outcome != Outcome::Next)
                return outcome;
            if (got == 0)
                return Fail("connection closed before the expected bytes arrived");
        }
        if (m_connectionReceived.compare(start, std::string::npos, expected) != 0)
            return Fail("received \"" + m_connectionReceived.substr(start) + "\", expected \"" +
                        expected + "\"");
        return Outcome::Next;
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::ReadUntil(std::string delimiter) {
    m_steps.push_back([this, delimiter] {
        size_t start = m_connectionReceived.size();
        // Reads one byte at a time so that nothing after the delimiter is
        // taken from a later step.
        while (m_connectionReceived.size() - start < delimiter.size() ||
               m_connectionReceived.compare(m_connectionReceived.size() - delimiter.size(),
                                            delimiter.size(), delimiter) != 0) {
            size_t got = 0;
            Outcome outcome = ReadSome(1, &got);
            if (outcome != Outcome::Next)
                return outcome;
            if (got == 0)
                return Fail("connection closed before the delimiter arrived");
        }
        return Outcome::Next;
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::ReadBytes(std::size_t count) {
    m_steps.push_back([this, count] {
        size_t left = count;
        while (left > 0) {
            size_t got = 0;
            Outcome outcome = ReadSome(left, &got);
            if (outcome != Outcome::Next)
                return outcome;
            if (got == 0)
                return Fail("connection closed before all bytes arrived");
            left -= got;
        }
        return Outcome::Next;
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::ReadOnce() {
    m_steps.push_back([this] {
        size_t got = 0;
        const Outcome outcome = ReadSome(65536, &got);
        if (outcome == Outcome::Next && got == 0)
            return Fail("connection closed before any byte arrived");
        return outcome;
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::ReadToEnd() {
    m_steps.push_back([this] {
        for (;;) {
            size_t got = 0;
            Outcome outcome = ReadSome(65536, &got);
            if (outcome != Outcome::Next || got == 0)
                return outcome;
        }
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::Send(std::string bytes) {
    m_steps.push_back([this, bytes] { return SendAll(bytes.data(), bytes.size()); });
    return *this;
}

LoopbackPeer& LoopbackPeer::SendInPieces(std::string bytes, unsigned seed, std::size_t maxPiece,
                                         std::chrono::milliseconds pause) {
    m_steps.push_back([this, bytes, seed, maxPiece, pause] {
        std::mt19937 random(seed);
        std::uniform_int_distribution<std::size_t> pieceSize(1, std::max<std::size_t>(maxPiece, 1));
        for (size_t offset = 0; offset < bytes.size();) {
            size_t piece = std::min(pieceSize(random), bytes.size() - offset);
            Outcome outcome = SendAll(bytes.data() + offset, piece);
            if (outcome != Outcome::Next)
                return outcome;
            offset += piece;
            if (pause.count() > 0)
                std::this_thread::sleep_for(pause);
        }
        return Outcome::Next;
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::Pause(std::chrono::milliseconds duration) {
    m_steps.push_back([this, duration] {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, duration, [this] { return m_stopping; });
        return m_stopping ? Outcome::Stop : Outcome::Next;
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::WaitForRelease() {
    m_steps.push_back([this] {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stopping || m_releases > 0; });
        if (m_stopping)
            return Outcome::Stop;
        --m_releases;
        return Outcome::Next;
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::Stall() {
    return WaitForRelease();
}

LoopbackPeer& LoopbackPeer::Run(std::function<void()> action) {
    m_steps.push_back([action] {
        action();
        return Outcome::Next;
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::Close() {
    m_steps.push_back([this] {
        CloseConnection();
        return Outcome::Next;
    });
    return *this;
}

LoopbackPeer& LoopbackPeer::Reset() {
    m_steps.push_back([this] {
        if (m_connectionFd < 0)
            return Fail("reset without a connection");
        linger abortive { 1, 0 };
        ::setsockopt(m_connectionFd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        CloseConnection();
        return Outcome::Next;
    });
    return *this;
}

void LoopbackPeer::SetReceiveBuffer(int bytes) {
    // Set on the listening socket so that accepted sockets start with it and
    // the window they offer is small from the handshake on.
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void LoopbackPeer::Start() {
    m_thread = std::thread([this] { Play(); });
}

void LoopbackPeer::Release() {
    std::lock_guard lock(m_mutex);
    ++m_releases;
    m_changed.notify_all();
}

void LoopbackPeer::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
    }
    char byte = 1;
    [[maybe_unused]] auto written = ::write(m_wakePipe[1], &byte, 1);
}

bool LoopbackPeer::WaitDone(std::chrono::milliseconds deadline) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, deadline, [this] { return m_done; });
}

bool LoopbackPeer::WaitReceived(std::size_t count, std::chrono::milliseconds deadline) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, deadline, [&] { return m_received.size() >= count; });
}

std::string LoopbackPeer::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::string LoopbackPeer::Failure() const {
    std::lock_guard lock(m_mutex);
    return m_failure;
}

int LoopbackPeer::AcceptedCount() const {
    std::lock_guard lock(m_mutex);
    return m_accepted;
}

void LoopbackPeer::Play() {
    for (Step& step : m_steps) {
        if (step() != Outcome::Next)
            break;
    }
    CloseConnection();
    std::lock_guard lock(m_mutex);
    m_done = true;
    m_changed.notify_all();
}

LoopbackPeer::Outcome LoopbackPeer::Fail(std::string message) {
    std::lock_guard lock(m_mutex);
    if (m_failure.empty())
        m_failure = std::move(message);
    return Outcome::Fail;
}

bool LoopbackPeer::WaitFd(int fd, short events) {
    for (;;) {
        pollfd fds[2] = { { fd, events, 0 }, { m_wakePipe[0], POLLIN, 0 } };
        int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || fds[1].revents != 0)
            return false;
        if (fds[0].revents != 0)
            return true;
    }
}

LoopbackPeer::Outcome LoopbackPeer::ReadSome(std::size_t maxBytes, std::size_t* got) {
    *got = 0;
    if (m_connectionFd < 0)
        return Fail("read without a connection");
    char buffer[65536];
    if (!WaitFd(m_connectionFd, POLLIN))
        return Outcome::Stop;
    ssize_t n = ::recv(m_connectionFd, buffer, std::min(maxBytes, sizeof buffer), 0);
    if (n < 0) {
        // A reset by the client ends the stream like a close.
        if (errno == ECONNRESET)
            return Outcome::Next;
        return Fail(SystemText("recv"));
    }
    *got = static_cast<size_t>(n);
    AppendReceived(buffer, *got);
    return Outcome::Next;
}

LoopbackPeer::Outcome LoopbackPeer::SendAll(const char* data, std::size_t length) {
    if (m_connectionFd < 0)
        return Fail("send without a connection");
    while (length > 0) {
        if (!WaitFd(m_connectionFd, POLLOUT))
            return Outcome::Stop;
        ssize_t n = ::send(m_connectionFd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return Fail(SystemText("send"));
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return Outcome::Next;
}

void LoopbackPeer::CloseConnection() {
    if (m_connectionFd >= 0) {
        ::close(m_connectionFd);
        m_connectionFd = -1;
    }
}

void LoopbackPeer::AppendReceived(const char* data, std::size_t length) {
    m_connectionReceived.append(data, length);
    std::lock_guard lock(m_mutex);
    m_received.append(data, length);
    m_changed.notify_all();
}
