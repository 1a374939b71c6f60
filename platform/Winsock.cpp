#include "platform/Winsock.h"

#include "platform/HostLookup.h"
#include "platform/PosixSocket.h"
#include "platform/SocketTable.h"
#include "platform/WindowRegistry.h"
#include "platform/WinsockError.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/resource.h>

namespace Winsock {
namespace {

std::atomic<int> g_startups { 0 };
thread_local int t_lastError = 0;

constexpr WORD kHighestVersion = 0x0101;
constexpr const char* kDescription = "POSIX sockets with window message notification";
constexpr const char* kSystemStatus = "Running";
constexpr unsigned short kMaximumDatagram = 65467;

int Fail(int error) {
    t_lastError = error;
    return SOCKET_ERROR;
}

int FailFromErrno() {
    return Fail(WinsockErrorFromErrno(errno));
}

bool Started() {
    if (g_startups.load() > 0)
        return true;
    t_lastError = WSANOTINITIALISED;
    return false;
}

// The socket for a call; null with the error set when the library is not
// started, the handle is unknown, or the socket is registered for a window
// of another thread.
std::shared_ptr<SocketEntry> Use(SOCKET s) {
    if (!Started())
        return nullptr;
    auto entry = SocketTable::Instance().Find(s);
    if (!entry) {
        t_lastError = WSAENOTSOCK;
        return nullptr;
    }
    if (!entry->MayUseHere()) {
        t_lastError = WSAEINVAL;
        return nullptr;
    }
    return entry;
}

bool ReadAddress(const sockaddr* name, int nameLength, u_long* address, u_short* port) {
    if (!name || nameLength < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT), false;
    sockaddr_in ipv4;
    std::memcpy(static_cast<void*>(&ipv4), name, sizeof ipv4);
    if (ipv4.sin_family != AF_INET)
        return Fail(WSAEAFNOSUPPORT), false;
    *address = ipv4.sin_addr.s_addr;
    *port = ipv4.sin_port;
    return true;
}

int WriteAddress(u_long address, u_short port, sockaddr* name, int* nameLength) {
    if (!name || !nameLength)
        return 0;
    if (*nameLength < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT);
    sockaddr_in ipv4;
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = port;
    ipv4.sin_addr.s_addr = address;
    std::memcpy(static_cast<void*>(name), &ipv4, sizeof ipv4);
    *nameLength = sizeof ipv4;
    return 0;
}

// Outcomes of a connection attempt that the network decides; on a
// registered socket they arrive with FD_CONNECT, never from connect itself.
bool IsNetworkOutcome(int posixError) {
    return posixError == ECONNREFUSED || posixError == ENETUNREACH || posixError == EHOSTUNREACH ||
           posixError == ETIMEDOUT;
}

bool WouldBlock(int posixErrno) {
    return posixErrno == EAGAIN || posixErrno == EWOULDBLOCK;
}

// Every descriptor is non-blocking in the kernel. A socket in the library's
// blocking mode (never registered) waits here for what a blocking call would
// have waited for, and the call is made again: true to call again, false to
// fail with posixErrno (which a failed wait replaces).
bool WaitToRetry(const SocketEntry& entry, int& posixErrno, bool writing) {
    if (entry.IsNonBlocking() || !WouldBlock(posixErrno))
        return false;
    if (Posix::WaitUntilReady(entry.Descriptor(), writing) == 0)
        return true;
    posixErrno = errno;
    return false;
}

bool IsConnectionLoss(int error) {
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENETRESET ||
           error == WSAETIMEDOUT;
}

// One part of a dotted address: decimal, octal (leading 0) or hex (0x).
bool ParsePart(const char*& text, std::uint64_t* value) {
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    } else if (text[0] == '0') {
        base = 8;
    }
    const char* start = text;
    std::uint64_t result = 0;
    for (;; ++text) {
        int digit;
        char c = *text;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        if (digit >= base)
            return false;
        result = result * base + digit;
        if (result > 0xFFFFFFFFu)
            return false;
    }
    *value = result;
    return text != start;
}

} // namespace

int WSAStartup(WORD versionRequested, WSADATA* data) {
    if (LOBYTE(versionRequested) < 1)
        return WSAVERNOTSUPPORTED;
    if (!data)
        return WSAEFAULT;
    *data = WSADATA {};
    bool wantsOneZero = LOBYTE(versionRequested) == 1 && HIBYTE(versionRequested) == 0;
    data->wVersion = wantsOneZero ? versionRequested : kHighestVersion;
    data->wHighVersion = kHighestVersion;
    std::strncpy(data->szDescription, kDescription, WSADESCRIPTION_LEN);
    std::strncpy(data->szSystemStatus, kSystemStatus, WSASYS_STATUS_LEN);
    rlimit files {};
    rlim_t sockets = 0xFFFE;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < sockets)
        sockets = files.rlim_cur;
    data->iMaxSockets = static_cast<unsigned short>(sockets);
    data->iMaxUdpDg = kMaximumDatagram;
    ++g_startups;
    return 0;
}

int WSACleanup() {
    int count = g_startups.load();
    do {
        if (count <= 0)
            return Fail(WSANOTINITIALISED);
    } while (!g_startups.compare_exchange_weak(count, count - 1));
    if (count == 1) {
        HostLookup::Instance().CancelAll();
        SocketTable::Instance().RemoveAll();
    }
    return 0;
}

int WSAGetLastError() {
    return t_lastError;
}
void WSASetLastError(int error) {
    t_lastError = error;
}

SOCKET socket(int af, int type, int protocol) {
    if (!Started())
        return INVALID_SOCKET;
    if (af != AF_INET)
        return Fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
    if (type != SOCK_STREAM)
        return Fail(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
    if (protocol != 0 && protocol != IPPROTO_TCP)
        return Fail(WSAEPROTONOSUPPORT), INVALID_SOCKET;
    int descriptor = Posix::OpenStreamSocket();
    if (descriptor < 0)
        return FailFromErrno(), INVALID_SOCKET;
    auto entry = SocketTable::Instance().Add(descriptor);
    if (!entry)
        return Fail(WSAEMFILE), INVALID_SOCKET;
    entry->LingerChanged(false);
    return entry->Handle();
}

int closesocket(SOCKET s) {
    if (!Use(s))
        return SOCKET_ERROR;
    // The entry (notifiers, descriptor) goes when the last reference does; a
    // notification already queued holds only a weak one.
    SocketTable::Instance().Remove(s);
    return 0;
}

int bind(SOCKET s, const sockaddr* name, int nameLength) {
    auto entry = Use(s);
    u_long address = 0;
    u_short port = 0;
    if (!entry || !ReadAddress(name, nameLength, &address, &port))
        return SOCKET_ERROR;
    return Posix::Bind(entry->Descriptor(), address, port) < 0 ? FailFromErrno() : 0;
}

int listen(SOCKET s, int backlog) {
    auto entry = Use(s);
    if (!entry)
        return SOCKET_ERROR;
    if (Posix::Listen(entry->Descriptor(), backlog) < 0)
        return FailFromErrno();
    entry->Listening();
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* address, int* addressLength) {
    auto listening = Use(s);
    if (!listening)
        return INVALID_SOCKET;
    if (address && addressLength && *addressLength < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT), INVALID_SOCKET;
    u_long peerAddress = 0;
    u_short peerPort = 0;
    int descriptor = -1;
    int acceptErrno = 0;
    do {
        descriptor = Posix::Accept(listening->Descriptor(), &peerAddress, &peerPort);
        acceptErrno = errno;
    } while (descriptor < 0 && WaitToRetry(*listening, acceptErrno, false));
    listening->ConsumedConnection(descriptor < 0 && WouldBlock(acceptErrno));
    if (descriptor < 0)
        return Fail(WinsockErrorFromErrno(acceptErrno)), INVALID_SOCKET;
    auto entry = SocketTable::Instance().Add(descriptor);
    if (!entry)
        return Fail(WSAEMFILE), INVALID_SOCKET;
    entry->Connected();
    entry->InheritRegistration(*listening);
    WriteAddress(peerAddress, peerPort, address, addressLength);
    return entry->Handle();
}

int connect(SOCKET s, const sockaddr* name, int nameLength) {
    auto entry = Use(s);
    u_long address = 0;
    u_short port = 0;
    if (!entry || !ReadAddress(name, nameLength, &address, &port))
        return SOCKET_ERROR;
    entry->ConnectAttempted();
    int result = Posix::Connect(entry->Descriptor(), address, port);
    int connectErrno = result == 0 ? 0 : errno;
    if (!entry->IsNonBlocking()) {
        if (connectErrno == EINPROGRESS)
            connectErrno = Posix::FinishConnect(entry->Descriptor(), address, port);
        if (connectErrno != 0)
            return Fail(WinsockErrorFromErrno(connectErrno));
        entry->Connected();
        return 0;
    }
    if (connectErrno != 0 && connectErrno != EINPROGRESS && !IsNetworkOutcome(connectErrno))
        return Fail(WinsockErrorFromErrno(connectErrno));
    entry->ConnectStarted(connectErrno);
    return Fail(WSAEWOULDBLOCK);
}

int send(SOCKET s, const char* buffer, int length, int flags) {
    auto entry = Use(s);
    if (!entry)
        return SOCKET_ERROR;
    if (length < 0 || (length > 0 && !buffer))
        return Fail(WSAEFAULT);
    // In blocking mode the whole buffer goes, as a blocking send sends it.
    const auto total = static_cast<size_t>(length);
    size_t sent = 0;
    int sendErrno = 0;
    for (;;) {
        const long n =
            Posix::Send(entry->Descriptor(), buffer + sent, total - sent, (flags & MSG_OOB) != 0);
        if (n >= 0) {
            sent += static_cast<size_t>(n);
            if (sent == total || entry->IsNonBlocking())
                return static_cast<int>(sent);
            continue;
        }
        sendErrno = errno;
        if (!WaitToRetry(*entry, sendErrno, true))
            break;
    }
    int error = WinsockErrorFromErrno(sendErrno);
    // The kernel says EPIPE also to a socket that never connected, which has
    // nothing to shut down.
    if (sendErrno == EPIPE && !entry->HasConnected())
        error = WSAENOTCONN;
    if (IsConnectionLoss(error))
        entry->ConnectionLost(error);
    // What went before the failure counts; a loss is kept for the next call.
    if (sent > 0)
        return static_cast<int>(sent);
    if (error == WSAEWOULDBLOCK) {
        entry->SendBlocked();
        return Fail(error);
    }
    return Fail(entry->ClosingError() != 0 ? entry->ClosingError() : error);
}

int recv(SOCKET s, char* buffer, int length, int flags) {
    auto entry = Use(s);
    if (!entry)
        return SOCKET_ERROR;
    if (length < 0 || (length > 0 && !buffer))
        return Fail(WSAEFAULT);
    const bool urgent = (flags & MSG_OOB) != 0;
    const bool peek = (flags & MSG_PEEK) != 0;
    long received = 0;
    int receiveErrno = 0;
    // Urgent data is never waited for, in any mode.
    do {
        received =
            Posix::Receive(entry->Descriptor(), buffer, static_cast<size_t>(length), peek, urgent);
        receiveErrno = errno;
    } while (received < 0 && !urgent && WaitToRetry(*entry, receiveErrno, false));
    // Any recv re-enables the read notification. A read of data that got
    // less than it asked for, or nothing yet, has left nothing behind.
    const bool wouldBlock = received < 0 && WouldBlock(receiveErrno);
    entry->ConsumedData(!peek && !urgent && ((received >= 0 && received < length) || wouldBlock));
    if (received == 0 && length > 0 && entry->ClosingError() != 0)
        return Fail(entry->ClosingError());
    if (received < 0) {
        int error = WinsockErrorFromErrno(receiveErrno);
        if (IsConnectionLoss(error))
            entry->ConnectionLost(error);
        return Fail(error);
    }
    return static_cast<int>(received);
}

int shutdown(SOCKET s, int how) {
    auto entry = Use(s);
    if (!entry)
        return SOCKET_ERROR;
    return Posix::Shutdown(entry->Descriptor(), how) < 0 ? FailFromErrno() : 0;
}

namespace {

bool TranslateOption(int level, int optionName, Posix::Option* option) {
    if (level == SOL_SOCKET) {
        switch (optionName) {
        case SO_REUSEADDR:
            *option = Posix::Option::ReuseAddress;
            return true;
        case SO_KEEPALIVE:
            *option = Posix::Option::KeepAlive;
            return true;
        case SO_SNDBUF:
            *option = Posix::Option::SendBuffer;
            return true;
        case SO_RCVBUF:
            *option = Posix::Option::ReceiveBuffer;
            return true;
        case SO_ERROR:
            *option = Posix::Option::Error;
            return true;
        case SO_TYPE:
            *option = Posix::Option::Type;
            return true;
        }
    } else if (level == IPPROTO_TCP && optionName == TCP_NODELAY) {
        *option = Posix::Option::NoDelay;
        return true;
    }
    return false;
}

bool IsKnownLevel(int level) {
    return level == SOL_SOCKET || level == IPPROTO_TCP;
}

} // namespace

int setsockopt(SOCKET s, int level, int optionName, const char* optionValue, int optionLength) {
    auto entry = Use(s);
    if (!entry)
        return SOCKET_ERROR;
    if (!IsKnownLevel(level))
        return Fail(WSAEINVAL);
    if (!optionValue || optionLength < 4)
        return Fail(WSAEFAULT);
    if (level == SOL_SOCKET && optionName == SO_DONTLINGER)
        return 0;
    if (level == SOL_SOCKET && optionName == SO_LINGER) {
        linger value;
        std::memcpy(static_cast<void*>(&value), optionValue, sizeof value);
        // Switching off keeps the kernel's linger time: with lingering off
        // already, the call would change nothing.
        if (value.l_onoff == 0 && entry->LingerIsOff())
            return 0;
        if (Posix::SetLinger(entry->Descriptor(), value.l_onoff != 0, value.l_linger) < 0)
            return FailFromErrno();
        entry->LingerChanged(value.l_onoff != 0);
        return 0;
    }
    Posix::Option option;
    if (!TranslateOption(level, optionName, &option) || option == Posix::Option::Error ||
        option == Posix::Option::Type)
        return Fail(WSAENOPROTOOPT);
    int value = 0;
    std::memcpy(&value, optionValue, sizeof value);
    return Posix::SetOption(entry->Descriptor(), option, value) < 0 ? FailFromErrno() : 0;
}

int getsockopt(SOCKET s, int level, int optionName, char* optionValue, int* optionLength) {
    auto entry = Use(s);
    if (!entry)
        return SOCKET_ERROR;
    if (!IsKnownLevel(level))
        return Fail(WSAEINVAL);
    if (!optionValue || !optionLength || *optionLength < 4)
        return Fail(WSAEFAULT);
    if (level == SOL_SOCKET && optionName == SO_LINGER) {
        bool on = false;
        int seconds = 0;
        if (Posix::GetLinger(entry->Descriptor(), &on, &seconds) < 0)
            return FailFromErrno();
        linger value { static_cast<u_short>(on ? 1 : 0), static_cast<u_short>(seconds) };
        std::memcpy(optionValue, &value, sizeof value);
        *optionLength = sizeof value;
        return 0;
    }
    Posix::Option option;
    if (!TranslateOption(level, optionName, &option))
        return Fail(WSAENOPROTOOPT);
    int value = 0;
    if (Posix::GetOption(entry->Descriptor(), option, &value) < 0)
        return FailFromErrno();
    if (option == Posix::Option::Error)
        value = WinsockErrorFromErrno(value);
    else if (option == Posix::Option::Type)
        value = SOCK_STREAM;
    std::memcpy(optionValue, &value, sizeof value);
    *optionLength = sizeof value;
    return 0;
}

namespace {

int AddressOf(SOCKET s, sockaddr* name, int* nameLength,
              int (*query)(int, std::uint32_t*, std::uint16_t*)) {
    auto entry = Use(s);
    if (!entry)
        return SOCKET_ERROR;
    if (!name || !nameLength)
        return Fail(WSAEFAULT);
    u_long address = 0;
    u_short port = 0;
    if (query(entry->Descriptor(), &address, &port) < 0)
        return FailFromErrno();
    return WriteAddress(address, port, name, nameLength);
}

} // namespace

int getsockname(SOCKET s, sockaddr* name, int* nameLength) {
    return AddressOf(s, name, nameLength, &Posix::LocalAddress);
}

int getpeername(SOCKET s, sockaddr* name, int* nameLength) {
    return AddressOf(s, name, nameLength, &Posix::PeerAddress);
}

u_long inet_addr(const char* text) {
    if (!text || !*text)
        return INADDR_NONE;
    std::uint64_t parts[4] = {};
    int count = 0;
    const char* at = text;
    for (;;) {
        if (count == 4 || !ParsePart(at, &parts[count]))
            return INADDR_NONE;
        ++count;
        if (*at == '\0')
            break;
        if (*at != '.')
            return INADDR_NONE;
        ++at;
    }
    // The last part fills all the bytes that the earlier parts leave.
    std::uint64_t value = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF)
            return INADDR_NONE;
        value |= parts[i] << (24 - 8 * i);
    }
    std::uint64_t lastLimit = 0xFFFFFFFFu >> (8 * (count - 1));
    if (parts[count - 1] > lastLimit)
        return INADDR_NONE;
    value |= parts[count - 1];
    return htonl(static_cast<u_long>(value));
}

int WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events) {
    auto entry = Use(s);
    if (!entry)
        return SOCKET_ERROR;
    int error = entry->Select(window, message, events);
    return error ? Fail(error) : 0;
}

HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer,
                             int bufferLength) {
    if (!Started())
        return 0;
    if (!name || !buffer || bufferLength < 0)
        return Fail(WSAEFAULT), 0;
    if (!WindowRegistry::Instance().Exists(window))
        return Fail(WSAEINVAL), 0;
    HANDLE task = HostLookup::Instance().Start(window, message, name, buffer, bufferLength);
    if (task == 0)
        Fail(WSAENOBUFS);
    return task;
}

int WSACancelAsyncRequest(HANDLE task) {
    if (!Started())
        return SOCKET_ERROR;
    return HostLookup::Instance().Cancel(task) ? 0 : Fail(WSAEINVAL);
}

} // namespace Winsock
