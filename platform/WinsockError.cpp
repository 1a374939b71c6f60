#include "platform/WinsockError.h"

#include "platform/Winsock.h"

#include <cerrno>

namespace {

struct Translation {
    int From;
    int To;
};

// errno values without a row become WSAEINVAL.
constexpr Translation kErrnoTable[] = {
    { EINTR, Winsock::WSAEINTR },
    { EBADF, Winsock::WSAENOTSOCK },
    { EACCES, Winsock::WSAEACCES },
    { EPERM, Winsock::WSAEACCES },
    { EFAULT, Winsock::WSAEFAULT },
    { EINVAL, Winsock::WSAEINVAL },
    { EMFILE, Winsock::WSAEMFILE },
    { ENFILE, Winsock::WSAEMFILE },
    { EAGAIN, Winsock::WSAEWOULDBLOCK },
    { EWOULDBLOCK, Winsock::WSAEWOULDBLOCK },
    { EINPROGRESS, Winsock::WSAEWOULDBLOCK },
    { EALREADY, Winsock::WSAEALREADY },
    { ENOTSOCK, Winsock::WSAENOTSOCK },
    { EDESTADDRREQ, Winsock::WSAEDESTADDRREQ },
    { EMSGSIZE, Winsock::WSAEMSGSIZE },
    { EPROTOTYPE, Winsock::WSAEPROTOTYPE },
    { ENOPROTOOPT, Winsock::WSAENOPROTOOPT },
    { EPROTONOSUPPORT, Winsock::WSAEPROTONOSUPPORT },
    { ESOCKTNOSUPPORT, Winsock::WSAESOCKTNOSUPPORT },
    { EOPNOTSUPP, Winsock::WSAEOPNOTSUPP },
    { EPFNOSUPPORT, Winsock::WSAEPFNOSUPPORT },
    { EAFNOSUPPORT, Winsock::WSAEAFNOSUPPORT },
    { EADDRINUSE, Winsock::WSAEADDRINUSE },
    { EADDRNOTAVAIL, Winsock::WSAEADDRNOTAVAIL },
    { ENETDOWN, Winsock::WSAENETDOWN },
    { ENETUNREACH, Winsock::WSAENETUNREACH },
    { ENETRESET, Winsock::WSAENETRESET },
    { ECONNABORTED, Winsock::WSAECONNABORTED },
    { ECONNRESET, Winsock::WSAECONNRESET },
    { ENOBUFS, Winsock::WSAENOBUFS },
    { ENOMEM, Winsock::WSAENOBUFS },
    { EISCONN, Winsock::WSAEISCONN },
    { ENOTCONN, Winsock::WSAENOTCONN },
    // The peer is gone or this side shut down: the connection cannot send.
    { EPIPE, Winsock::WSAESHUTDOWN },
    { ESHUTDOWN, Winsock::WSAESHUTDOWN },
    { ETOOMANYREFS, Winsock::WSAETOOMANYREFS },
    { ETIMEDOUT, Winsock::WSAETIMEDOUT },
    { ECONNREFUSED, Winsock::WSAECONNREFUSED },
    { ELOOP, Winsock::WSAELOOP },
    { ENAMETOOLONG, Winsock::WSAENAMETOOLONG },
    { EHOSTDOWN, Winsock::WSAEHOSTDOWN },
    { EHOSTUNREACH, Winsock::WSAEHOSTUNREACH },
    { ENOTEMPTY, Winsock::WSAENOTEMPTY },
    { EUSERS, Winsock::WSAEUSERS },
    { EDQUOT, Winsock::WSAEDQUOT },
    { ESTALE, Winsock::WSAESTALE },
    { EREMOTE, Winsock::WSAEREMOTE },
};

} // namespace

int WinsockErrorFromErrno(int posixError) {
    if (posixError == 0)
        return 0;
    for (const Translation& row : kErrnoTable) {
        if (row.From == posixError)
            return row.To;
    }
    return Winsock::WSAEINVAL;
}

int WinsockErrorFromLookup(int lookupError, int posixError) {
    using namespace Winsock;
    switch (lookupError) {
    case 0:
        return 0;
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    // The name exists, but without an IPv4 address.
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return WSANO_DATA;
    case EAI_SYSTEM:
        return posixError == ENOENT ? WSAHOST_NOT_FOUND : WSANO_RECOVERY;
    default:
        return WSANO_RECOVERY;
    }
}
