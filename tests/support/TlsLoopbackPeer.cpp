#include "tests/support/TlsLoopbackPeer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

std::string SystemText(const char* call) {
    return std::string(call) + ": " + std::strerror(errno);
}

std::string LibraryText() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : "error " + std::to_string(ERR_GET_REASON(code));
}

} // namespace

void TlsLoopbackPeer::TContextFree::operator()(SSL_CTX* context) const {
    SSL_CTX_free(context);
}

void TlsLoopbackPeer::TSslFree::operator()(SSL* ssl) const {
    SSL_free(ssl);
}

TlsLoopbackPeer::TlsLoopbackPeer(Script script) : m_script(std::move(script)) {
    m_context.reset(SSL_CTX_new(TLS_server_method()));
    SSL_CTX* context = m_context.get();
    if (context == nullptr ||
        SSL_CTX_use_certificate_chain_file(context, m_script.pair.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, m_script.pair.key.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("TLS peer: cannot load its certificate: " + LibraryText());
    if (m_script.maxVersion != 0) {
        // The library refuses versions below TLS 1.2 above security level 0,
        // for the protocol and for the ciphers they can use.
        SSL_CTX_set_security_level(context, 0);
        SSL_CTX_set_cipher_list(context, "DEFAULT:@SECLEVEL=0");
        SSL_CTX_set_min_proto_version(context, 0);
        SSL_CTX_set_max_proto_version(context, m_script.maxVersion);
    }

    if (::pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) < 0)
        throw std::runtime_error(SystemText("pipe"));
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), length) < 0 ||
        ::listen(m_listenFd, 4) < 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) < 0) {
        const std::string message = SystemText("listen");
        ::close(m_listenFd);
        ::close(m_wakePipe[0]);
        ::close(m_wakePipe[1]);
        throw std::runtime_error(message);
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Play(); });
}

TlsLoopbackPeer::~TlsLoopbackPeer() {
    Stop();
    m_thread.join();
    ::close(m_listenFd);
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
}

bool TlsLoopbackPeer::WaitDone(std::chrono::milliseconds deadline) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, deadline, [this] { return m_done; });
}

std::string TlsLoopbackPeer::Failure() const {
    std::lock_guard lock(m_mutex);
    return m_failure;
}

void TlsLoopbackPeer::Stop() {
    char byte = 1;
    [[maybe_unused]] auto written = ::write(m_wakePipe[1], &byte, 1);
}

void TlsLoopbackPeer::Play() {
    if (WaitFd(POLLIN)) {
        m_connectionFd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (m_connectionFd < 0)
            Fail(SystemText("accept"));
    }
    if (m_connectionFd >= 0) {
        const int on = 1;
        ::setsockopt(m_connectionFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::unique_ptr<SSL, TSslFree> ssl(SSL_new(m_context.get()));
        SSL_set_fd(ssl.get(), m_connectionFd);
        std::string head;
        char byte = 0;
        bool played = Drive(ssl.get(), "handshake", [&] { return SSL_accept(ssl.get()); });
        // One byte at a time, so that the head's end is seen where it is.
        while (played && head.find("\r\n\r\n") == std::string::npos) {
            played = Drive(ssl.get(), "read", [&] { return SSL_read(ssl.get(), &byte, 1); });
            head += byte;
        }
        for (size_t sent = 0; played && sent < m_script.reply.size();) {
            const int piece =
                static_cast<int>(std::min<size_t>(m_script.reply.size() - sent, 1 << 16));
            played = Drive(ssl.get(), "write", [&] {
                return SSL_write(ssl.get(), m_script.reply.data() + sent, piece);
            });
            sent += static_cast<size_t>(piece);
        }
        // Once the closing alert is sent (0) the script is done; the
        // client's answer to it is not waited for.
        if (played && m_script.ending == Ending::Stall)
            WaitForStop();
        if (played && m_script.ending == Ending::CloseNotify)
            played =
                Drive(ssl.get(), "shutdown", [&] { return SSL_shutdown(ssl.get()) >= 0 ? 1 : -1; });
        CloseConnection(played ? m_script.ending : Ending::Close);
    }
    std::lock_guard lock(m_mutex);
    m_done = true;
    m_changed.notify_all();
}

template <typename Step> bool TlsLoopbackPeer::Drive(SSL* ssl, const char* what, Step step) {
    for (;;) {
        ERR_clear_error();
        const int result = step();
        if (result > 0)
            return true;
        const int error = SSL_get_error(ssl, result);
        short events = 0;
        if (error == SSL_ERROR_WANT_READ)
            events = POLLIN;
        else if (error == SSL_ERROR_WANT_WRITE)
            events = POLLOUT;
        if (events == 0) {
            Fail(std::string(what) + ": " +
                 (error == SSL_ERROR_SSL ? LibraryText() : "the client closed"));
            return false;
        }
        if (!WaitFd(events))
            return false;
    }
}

bool TlsLoopbackPeer::WaitFd(short events) {
    const int fd = m_connectionFd >= 0 ? m_connectionFd : m_listenFd;
    for (;;) {
        pollfd fds[2] = { { fd, events, 0 }, { m_wakePipe[0], POLLIN, 0 } };
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || fds[1].revents != 0) {
            Fail("stopped");
            return false;
        }
        if (fds[0].revents != 0)
            return true;
    }
}

void TlsLoopbackPeer::WaitForStop() {
    pollfd wake { m_wakePipe[0], POLLIN, 0 };
    while (::poll(&wake, 1, 10000) < 0 && errno == EINTR) {
    }
}

void TlsLoopbackPeer::Fail(std::string message) {
    std::lock_guard lock(m_mutex);
    if (m_failure.empty())
        m_failure = std::move(message);
}

void TlsLoopbackPeer::CloseConnection(Ending ending) {
    if (ending == Ending::Reset) {
        const linger abortive { 1, 0 };
        ::setsockopt(m_connectionFd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    ::close(m_connectionFd);
    m_connectionFd = -1;
}
