#pragma once

#include "toolkit/runtime/Exception.h"

// Every failure of a socket operation. The message is one of the fixed texts
// of the socket transport, or "<number>:<text>" from the socket error table.
class ESockError : public Exception {
public:
    using Exception::Exception;
};

// A data transfer that was canceled, by Cancel, Abort or the time limit.
// Handlers for ESockError catch it too.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};
