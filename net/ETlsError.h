#pragma once

#include "net/ESockError.h"
#include "net/TlsErrorText.h"

// A TLS failure: its message is one of the texts of net/TlsErrorText.h,
// and Failure says which kind it is, for callers that decide by it.
// Handlers for ESockError catch it too.
class ETlsError : public ESockError {
public:
    ETlsError(TTlsFailure failure, std::string message)
        : ESockError(std::move(message)), Failure(failure) {}
    TTlsFailure Failure;
};
