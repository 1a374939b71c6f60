#pragma once

#include "platform/WinTypes.h"

// The POSIX socket headers are included first so that their macros cannot
// turn up later and rewrite the names below. The names that both define
// (SOL_SOCKET, SO_LINGER, AF_INET, INADDR_NONE, htons, ...) mean the
// socket-library values after this header; use them qualified, as
// Winsock::SOL_SOCKET. For the same reason `using namespace Winsock` makes
// names such as sockaddr_in or SOCK_STREAM ambiguous; qualify them, or write
// the code inside namespace Winsock, where its names hide the POSIX ones.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#undef AF_INET
#undef PF_INET
#undef AF_UNSPEC
#undef SOL_SOCKET
#undef SO_LINGER
#undef SO_REUSEADDR
#undef SO_KEEPALIVE
#undef SO_SNDBUF
#undef SO_RCVBUF
#undef SO_ERROR
#undef SO_TYPE
#undef SOMAXCONN
#undef TCP_NODELAY
#undef INADDR_ANY
#undef INADDR_NONE
#undef INADDR_LOOPBACK
#undef htons
#undef ntohs
#undef htonl
#undef ntohl

// The socket library, version 1.1 interface, on POSIX non-blocking sockets.
//
// What is copied from the Windows socket library 1.1:
// - The calls, their argument order and result conventions: SOCKET_ERROR (-1)
//   or INVALID_SOCKET on failure with the reason in WSAGetLastError (per
//   thread), the WSA error numbers (errno is translated: would-block and
//   in-progress 10035, refused 10061, reset 10054, timed out 10060, network
//   unreachable 10051, host unreachable 10065, address not available 10049,
//   and so on; name lookup failures 11001-11004), the records (WSADATA,
//   sockaddr_in, linger with two 16-bit fields, hostent) and the option and
//   level numbers (SOL_SOCKET 0xFFFF, SO_LINGER 0x0080).
// - Every call but WSAStartup fails with WSANOTINITIALISED (10093) unless
//   WSAStartup has succeeded more often than WSACleanup was called.
// - A socket blocks until WSAAsyncSelect registers it; from then on it never
//   blocks, and network events arrive as the registered message at the
//   window: wParam = the socket, lParam = WSAMAKESELECTREPLY(event, error).
//   The events follow the 1.1 re-enabling rules:
//     FD_READ    once when data arrives; not again until recv is called (any
//                recv, including MSG_PEEK and failed ones), after which it
//                comes again if data is still waiting.
//     FD_WRITE   after a connection completes, and after a send that failed
//                with WSAEWOULDBLOCK once sending can proceed; also after
//                registering a connected socket, once it can send.
//     FD_OOB     when urgent data arrives; re-enabled by recv.
//     FD_ACCEPT  when a connection waits on a listening socket; re-enabled
//                by accept.
//     FD_CONNECT once per connect, with the error number when it failed;
//                after a refused, unreachable or timed-out attempt the same
//                socket may connect again.
//                connect on a registered socket always returns SOCKET_ERROR
//                with WSAEWOULDBLOCK, also when the outcome is known at once.
//     FD_CLOSE   once, when the peer has closed the connection and every
//                byte it sent has been read by recv (so no received data
//                is lost behind it); error 0 for an orderly close,
//                WSAECONNRESET when the peer reset the connection.
//   An accepted socket inherits the listening socket's registration.
// - recv returns 0 once the peer has closed and everything was read.
// - WSAAsyncGetHostByName looks the name up on a worker thread (IPv4 only)
//   and answers with the registered message: wParam = the task handle,
//   lParam = WSAMAKEASYNCREPLY(bytes used, error). The host entry (name,
//   aliases, type AF_INET, length 4, address list; every pointer pointing
//   into the caller's buffer) is written into the caller's buffer on the
//   window's thread just before the message is dispatched. With a buffer
//   that is too small the error is WSAENOBUFS and the length is the size
//   needed. The system resolver answers dotted addresses itself, without
//   asking the network.
//
// Where it knowingly differs:
// - Socket handles are small numbers from 1 to 0xFFFE (so they fit the 16-bit
//   handle field of the socket component, 0xFFFF meaning none) and are not
//   reused while 0xFFFE others are free. INVALID_SOCKET is still ~0.
// - WSAAsyncSelect and every call on a registered socket must run on the
//   thread that owns the window, because the notifications come from Qt
//   socket notifiers of that thread; other threads get WSAEINVAL.
//   WSAAsyncGetHostByName may be called from any thread; its answer is
//   always handled on the window's thread.
// - Notifications that are still queued when their socket is closed or
//   registered anew are dropped, as are answers to a cancelled lookup or to
//   a lookup whose window was destroyed (the buffer is then not touched). A
//   new registration reports the socket's state afresh instead: unread data
//   (FD_READ), an ended connection (FD_CLOSE), room to send (FD_WRITE).
// - A connection that is reset before its completion was noticed still
//   reports FD_CONNECT without error, then FD_CLOSE with WSAECONNRESET.
// - Sending on a connection the peer has closed fails with an error number
//   (WSAESHUTDOWN or WSAECONNRESET) and never raises SIGPIPE.
// - setsockopt: SO_LINGER maps to the POSIX option; SO_DONTLINGER (0xFF7F)
//   is accepted and changes nothing; an unknown level fails with WSAEINVAL
//   and changes nothing; an unknown option fails with WSAENOPROTOOPT.
// - Only AF_INET stream sockets exist (type SOCK_STREAM, protocol 0 or 6).
namespace Winsock {

using SOCKET = std::uint32_t;
using u_short = std::uint16_t;
using u_long = std::uint32_t;

constexpr SOCKET INVALID_SOCKET = ~SOCKET { 0 };
constexpr int SOCKET_ERROR = -1;

constexpr int AF_UNSPEC = 0;
constexpr int AF_INET = 2;
constexpr int PF_INET = AF_INET;
constexpr int SOCK_STREAM = 1;
constexpr int IPPROTO_TCP = 6;

constexpr int MSG_OOB = 1;
constexpr int MSG_PEEK = 2;

constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_REUSEADDR = 0x0004;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int SO_LINGER = 0x0080;
constexpr int SO_DONTLINGER = static_cast<int>(~0x0080u & 0xFFFF); // 0xFF7F
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int SO_ERROR = 0x1007;
constexpr int SO_TYPE = 0x1008;
constexpr int TCP_NODELAY = 0x0001;
constexpr int SOMAXCONN = 5;

constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

constexpr u_long INADDR_ANY = 0x00000000;
constexpr u_long INADDR_LOOPBACK = 0x7F000001;
constexpr u_long INADDR_NONE = 0xFFFFFFFF;

// Network events for WSAAsyncSelect.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;
constexpr long FD_ALL_EVENTS = 0x3F;

// The largest host entry the library writes.
constexpr int MAXGETHOSTSTRUCT = 1024;

// Error numbers.
constexpr int WSABASEERR = 10000;
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAEDISCON = 10101;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;

struct WSADATA {
    WORD wVersion = 0;
    WORD wHighVersion = 0;
    char szDescription[WSADESCRIPTION_LEN + 1] = {};
    char szSystemStatus[WSASYS_STATUS_LEN + 1] = {};
    unsigned short iMaxSockets = 0;
    unsigned short iMaxUdpDg = 0;
    char* lpVendorInfo = nullptr;
};

struct in_addr {
    u_long s_addr = 0; // network byte order
};

struct sockaddr {
    u_short sa_family = 0;
    char sa_data[14] = {};
};

// 16 bytes, as the library expects.
struct sockaddr_in {
    short sin_family = 0;
    u_short sin_port = 0; // network byte order
    in_addr sin_addr;
    char sin_zero[8] = {};
};
static_assert(sizeof(sockaddr_in) == 16);

struct linger {
    u_short l_onoff = 0;
    u_short l_linger = 0; // seconds
};
static_assert(sizeof(linger) == 4);

struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};

constexpr WORD WSAGETSELECTEVENT(LPARAM lParam) {
    return LOWORD(static_cast<std::uintptr_t>(lParam));
}
constexpr WORD WSAGETSELECTERROR(LPARAM lParam) {
    return HIWORD(static_cast<std::uintptr_t>(lParam));
}
constexpr WORD WSAGETASYNCBUFLEN(LPARAM lParam) {
    return LOWORD(static_cast<std::uintptr_t>(lParam));
}
constexpr WORD WSAGETASYNCERROR(LPARAM lParam) {
    return HIWORD(static_cast<std::uintptr_t>(lParam));
}
constexpr LPARAM WSAMAKESELECTREPLY(WORD event, WORD error) {
    return static_cast<LPARAM>((static_cast<std::uint32_t>(error) << 16) | event);
}
constexpr LPARAM WSAMAKEASYNCREPLY(WORD bufferLength, WORD error) {
    return static_cast<LPARAM>((static_cast<std::uint32_t>(error) << 16) | bufferLength);
}

// Starts the library: the highest version it offers is 1.1; a request for
// 1.0 gets 1.0, anything from 1.1 up gets 1.1. Fills *data and returns 0;
// returns WSAVERNOTSUPPORTED for a request below 1.0 and WSAEFAULT for a
// null record (the error is returned, not stored). Counted: each success
// needs its own WSACleanup.
int WSAStartup(WORD versionRequested, WSADATA* data);
// Undoes one WSAStartup; the last one closes every socket still open and
// drops every pending lookup answer. SOCKET_ERROR when not started.
int WSACleanup();

int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int bind(SOCKET s, const sockaddr* name, int nameLength);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* address, int* addressLength);
int connect(SOCKET s, const sockaddr* name, int nameLength);
int send(SOCKET s, const char* buffer, int length, int flags);
int recv(SOCKET s, char* buffer, int length, int flags);
int shutdown(SOCKET s, int how);
int setsockopt(SOCKET s, int level, int optionName, const char* optionValue, int optionLength);
int getsockopt(SOCKET s, int level, int optionName, char* optionValue, int* optionLength);
int getsockname(SOCKET s, sockaddr* name, int* nameLength);
int getpeername(SOCKET s, sockaddr* name, int* nameLength);

// The IPv4 address of a dotted name ("a.b.c.d", also the short forms a.b.c,
// a.b and a, decimal, octal or hex parts) in network byte order;
// INADDR_NONE for anything else, so "255.255.255.255" gives the same value
// as a name that is not an address.
u_long inet_addr(const char* text);

constexpr u_short htons(u_short value) {
    return static_cast<u_short>((value << 8) | (value >> 8));
}
constexpr u_short ntohs(u_short value) {
    return htons(value);
}
constexpr u_long htonl(u_long value) {
    return ((value & 0xFF) << 24) | ((value & 0xFF00) << 8) | ((value >> 8) & 0xFF00) |
           (value >> 24);
}
constexpr u_long ntohl(u_long value) {
    return htonl(value);
}

// Registers the socket for the given network events (0 cancels), makes it
// non-blocking and resets its notification state.
int WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events);

// Starts a host lookup; returns its task handle (not 0), or 0 with the
// error in WSAGetLastError (not started, null name or buffer, unknown
// window).
HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer,
                             int bufferLength);
// Stops a pending lookup: no answer comes and the buffer is not touched.
// SOCKET_ERROR with WSAEINVAL when the task is unknown or already answered.
int WSACancelAsyncRequest(HANDLE task);

} // namespace Winsock
