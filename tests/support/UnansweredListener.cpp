#include "tests/support/UnansweredListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

UnansweredListener::UnansweredListener() {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listener, 0) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on loopback");
    m_port = ntohs(address.sin_port);
    // With a backlog of 0 the queue holds one connection; the others stay
    // half-open, and together they make sure the queue is full.
    for (int& filler : m_fillers) {
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        (void)::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
}

UnansweredListener::~UnansweredListener() {
    for (int filler : m_fillers)
        if (filler >= 0)
            ::close(filler);
    ::close(m_listener);
}

std::string UnansweredListener::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}
