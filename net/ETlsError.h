#pragma once

#include "net/ESockError.h"
#include "net/TlsErrorText.h"

// A TLS failure: its message is one of the texts of net/TlsErrorText.h,
// and Failure says which kind it is, for callers that decide by it.
// Handlers for ESockError catch it too; as one, its Kind is Tls, but for a
// handshake that the time limit or a cancel ended, which is TimedOut or
// Canceled as any other wait would be.
class ETlsError : public ESockError {
public:
    ETlsError(TTlsFailure failure, std::string message)
        : ESockError(KindOf(failure), std::move(message)), Failure(failure) {}
    TTlsFailure Failure;

private:
    static TSockFailure KindOf(TTlsFailure failure) {
        switch (failure) {
        case TTlsFailure::TimedOut:
            return TSockFailure::TimedOut;
        case TTlsFailure::Canceled:
            return TSockFailure::Canceled;
        default:
            return TSockFailure::Tls;
        }
    }
};
