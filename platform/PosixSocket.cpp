#include "platform/PosixSocket.h"

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Posix {
namespace {

bool Translate(Option option, int* level, int* name) {
    switch (option) {
    case Option::ReuseAddress:
        *level = SOL_SOCKET;
        *name = SO_REUSEADDR;
        return true;
    case Option::KeepAlive:
        *level = SOL_SOCKET;
        *name = SO_KEEPALIVE;
        return true;
    case Option::SendBuffer:
        *level = SOL_SOCKET;
        *name = SO_SNDBUF;
        return true;
    case Option::ReceiveBuffer:
        *level = SOL_SOCKET;
        *name = SO_RCVBUF;
        return true;
    case Option::NoDelay:
        *level = IPPROTO_TCP;
        *name = TCP_NODELAY;
        return true;
    case Option::Error:
        *level = SOL_SOCKET;
        *name = SO_ERROR;
        return true;
    case Option::Type:
        *level = SOL_SOCKET;
        *name = SO_TYPE;
        return true;
    }
    return false;
}

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in result {};
    result.sin_family = AF_INET;
    result.sin_port = port;
    result.sin_addr.s_addr = address;
    return result;
}

int ReadAddress(int result, const sockaddr_in& from, std::uint32_t* address, std::uint16_t* port) {
    if (result < 0)
        return result;
    if (address)
        *address = from.sin_addr.s_addr;
    if (port)
        *port = from.sin_port;
    return result;
}

} // namespace

int OpenStreamSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
}

int Connect(int descriptor, std::uint32_t address, std::uint16_t port) {
    sockaddr_in target = MakeAddress(address, port);
    return ::connect(descriptor, reinterpret_cast<const sockaddr*>(&target), sizeof target);
}

int Dissolve(int descriptor) {
    sockaddr unspecified {};
    unspecified.sa_family = AF_UNSPEC;
    return ::connect(descriptor, &unspecified, sizeof unspecified);
}

int Bind(int descriptor, std::uint32_t address, std::uint16_t port) {
    sockaddr_in local = MakeAddress(address, port);
    return ::bind(descriptor, reinterpret_cast<const sockaddr*>(&local), sizeof local);
}

int Listen(int descriptor, int backlog) {
    return ::listen(descriptor, backlog);
}

int Accept(int descriptor, std::uint32_t* address, std::uint16_t* port) {
    sockaddr_in peer {};
    socklen_t length = sizeof peer;
    int result = ::accept4(descriptor, reinterpret_cast<sockaddr*>(&peer), &length,
                           SOCK_CLOEXEC | SOCK_NONBLOCK);
    return ReadAddress(result, peer, address, port);
}

long Send(int descriptor, const void* data, std::size_t length, bool urgent) {
    return ::send(descriptor, data, length, MSG_NOSIGNAL | (urgent ? MSG_OOB : 0));
}

long Receive(int descriptor, void* data, std::size_t length, bool peek, bool urgent) {
    return ::recv(descriptor, data, length, (peek ? MSG_PEEK : 0) | (urgent ? MSG_OOB : 0));
}

long PeekByte(int descriptor) {
    char byte = 0;
    return ::recv(descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
}

bool HasUrgentData(int descriptor) {
    pollfd query { descriptor, POLLPRI, 0 };
    return ::poll(&query, 1, 0) == 1 && (query.revents & POLLPRI) != 0;
}

int Shutdown(int descriptor, int how) {
    static const int kHow[] = { SHUT_RD, SHUT_WR, SHUT_RDWR };
    if (how < 0 || how > 2) {
        errno = EINVAL;
        return -1;
    }
    return ::shutdown(descriptor, kHow[how]);
}

int SetOption(int descriptor, Option option, int value) {
    int level = 0;
    int name = 0;
    Translate(option, &level, &name);
    return ::setsockopt(descriptor, level, name, &value, sizeof value);
}

int GetOption(int descriptor, Option option, int* value) {
    int level = 0;
    int name = 0;
    Translate(option, &level, &name);
    socklen_t length = sizeof *value;
    return ::getsockopt(descriptor, level, name, value, &length);
}

int SetLinger(int descriptor, bool on, int seconds) {
    ::linger value { on ? 1 : 0, seconds };
    return ::setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &value, sizeof value);
}

int GetLinger(int descriptor, bool* on, int* seconds) {
    ::linger value {};
    socklen_t length = sizeof value;
    int result = ::getsockopt(descriptor, SOL_SOCKET, SO_LINGER, &value, &length);
    *on = value.l_onoff != 0;
    *seconds = value.l_linger;
    return result;
}

int LocalAddress(int descriptor, std::uint32_t* address, std::uint16_t* port) {
    sockaddr_in local {};
    socklen_t length = sizeof local;
    int result = ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &length);
    return ReadAddress(result, local, address, port);
}

int PeerAddress(int descriptor, std::uint32_t* address, std::uint16_t* port) {
    sockaddr_in peer {};
    socklen_t length = sizeof peer;
    int result = ::getpeername(descriptor, reinterpret_cast<sockaddr*>(&peer), &length);
    return ReadAddress(result, peer, address, port);
}

bool IsListening(int descriptor) {
    int listening = 0;
    socklen_t length = sizeof listening;
    return ::getsockopt(descriptor, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 &&
           listening != 0;
}

int PendingError(int descriptor) {
    int error = 0;
    if (GetOption(descriptor, Option::Error, &error) < 0)
        return errno;
    return error;
}

int WaitUntilReady(int descriptor, bool writing) {
    // Errors and hang-ups end the wait whatever is asked: the call that
    // follows reports them.
    pollfd query { descriptor, static_cast<short>(writing ? POLLOUT : POLLIN), 0 };
    int result = 0;
    do {
        result = ::poll(&query, 1, -1);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? -1 : 0;
}

int FinishConnect(int descriptor, std::uint32_t address, std::uint16_t port) {
    // Once the attempt has ended, connect called again tells its outcome and
    // leaves the socket as a blocking connect leaves it: connected, or
    // unconnected after a failure.
    for (;;) {
        if (WaitUntilReady(descriptor, true) < 0)
            return errno;
        if (Connect(descriptor, address, port) == 0 || errno == EISCONN)
            return 0;
        if (errno != EALREADY && errno != EINPROGRESS)
            return errno;
    }
}

} // namespace Posix
