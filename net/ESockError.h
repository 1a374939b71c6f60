#pragma once

#include "toolkit/runtime/Exception.h"

#include <cstdint>

// What a failure of the socket or HTTP component was, for callers that tell
// failures apart (whether to try again); the messages are for people and may
// change.
enum class TSockFailure : uint8_t {
    // The connection attempt failed: refused, or no answer at all.
    Refused,
    // The connection was reset or dropped while it lasted.
    Reset,
    // A time limit ran out: the component's, the whole response head's, the
    // minimum rate's, or the socket library's own.
    TimedOut,
    // The server closed before the whole response had arrived.
    ClosedEarly,
    // Cancel or Abort ended the wait.
    Canceled,
    // The host name gave no address.
    HostNotFound,
    // A response, its head or one of its lines beyond its bound.
    TooLarge,
    TooManyRedirects,
    // The proxy did not open a tunnel to the server.
    ProxyTunnel,
    // A TLS failure; ETlsError says which.
    Tls,
    // Received bytes could not be kept: the receive buffer failed.
    ReceiveBuffer,
    // Any other error of the socket library.
    Socket,
    // An operation the component's state does not allow (Connect while
    // connected).
    Misuse,
};

// Every failure of a socket operation. The message is one of the fixed texts
// of the socket transport, or "<number>:<text>" from the socket error table;
// Kind says what it was.
class ESockError : public Exception {
public:
    ESockError(TSockFailure kind, std::string message)
        : Exception(std::move(message)), Kind(kind) {}
    TSockFailure Kind;
};

// A data transfer that was canceled, by Cancel, Abort (Kind Canceled) or the
// time limit (TimedOut). Handlers for ESockError catch it too.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};
