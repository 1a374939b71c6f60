#include "tests/support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::runtime_error SystemError(const char* call) {
    return std::runtime_error(std::string(call) + ": " + std::strerror(errno));
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int ConnectTo(std::uint16_t port, bool blocking) {
    const int fd =
        ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0)
        throw SystemError("socket");
    const sockaddr_in address = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 &&
        !(errno == EINPROGRESS && !blocking)) {
        const auto error = SystemError("connect");
        ::close(fd);
        throw error;
    }
    return fd;
}

} // namespace

BacklogFullListener::BacklogFullListener() {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw SystemError("socket");
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    // Backlog 0 keeps one finished connection waiting; once it is queued the
    // kernel drops every further SYN.
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::listen(m_listenFd, 0) < 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) < 0) {
        const auto error = SystemError("listen");
        ::close(m_listenFd);
        throw error;
    }
    m_port = ntohs(address.sin_port);
    m_fillers.push_back(ConnectTo(m_port, true));
    // Spares, in case the first one's handshake is still being queued.
    m_fillers.push_back(ConnectTo(m_port, false));
    m_fillers.push_back(ConnectTo(m_port, false));
}

BacklogFullListener::~BacklogFullListener() {
    for (int fd : m_fillers)
        ::close(fd);
    ::close(m_listenFd);
}

LoopbackClient::LoopbackClient(std::uint16_t port) : m_fd(ConnectTo(port, true)) {}

LoopbackClient::~LoopbackClient() {
    ::close(m_fd);
}

std::uint16_t LoopbackClient::LocalPort() const {
    sockaddr_in address {};
    socklen_t length = sizeof address;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}
