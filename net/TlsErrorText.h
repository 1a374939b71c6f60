#pragma once

#include <cstdint>
#include <string>

// The fixed texts of TLS failures. A handshake failure reads
// "TLS handshake failed: <reason>", with one of the reasons below.

constexpr const char* TlsHandshakeFailed = "TLS handshake failed: ";
constexpr const char* TlsConnectionFailed = "TLS connection failed: ";
// The socket component's handshake ended by its time limit or by Abort.
constexpr const char* TlsHandshakeTimedOut = "TLS handshake timed out";
constexpr const char* TlsHandshakeCanceled = "TLS handshake canceled";

constexpr const char* TlsCertificateExpired = "certificate has expired";
constexpr const char* TlsCertificateNotYetValid = "certificate is not yet valid";
constexpr const char* TlsCertificateNotTrusted = "certificate is not trusted";
constexpr const char* TlsCertificateRevoked = "certificate has been revoked";
constexpr const char* TlsHostMismatch = "host name does not match the certificate";
constexpr const char* TlsNotTls = "the server does not speak TLS";
// A server that answered the hello with an older version, or refused it
// with the protocol-version alert, which does not say what it would offer.
constexpr const char* TlsOldVersion = "the server does not offer TLS 1.2 or newer";
constexpr const char* TlsNothingInCommon = "the server accepts none of the offered ciphers";
constexpr const char* TlsServerClosed = "the server closed the connection";
constexpr const char* TlsOutOfMemory = "out of memory";

// What a TLS failure was, for callers that tell failures apart (whether to
// try again, what to advise); the texts are for people and may change.
enum class TTlsFailure : uint8_t {
    CertificateExpired,
    CertificateNotYetValid,
    CertificateNotTrusted,
    CertificateRevoked,
    // A verification result without a kind of its own.
    CertificateInvalid,
    HostMismatch,
    NotTls,
    OldVersion,
    NothingInCommon,
    ServerClosed,
    // The socket failed during the handshake (a reset, ...).
    SocketFailed,
    // Any other library failure, named by the library.
    ProtocolError,
    CaFileUnreadable,
    OutOfMemory,
    TimedOut,
    Canceled,
    // A broken record after the handshake.
    ConnectionBroken,
};

// The failure a verification result (X509_V_ERR_...) stands for.
TTlsFailure TlsCertificateFailure(long verifyResult);

// The reason for a certificate that the verification refused, by its
// verification result; results without a text of their own read
// "certificate is not valid (<the library's text>)".
std::string TlsCertificateProblem(long verifyResult);

// The failure a library error's reason code (ERR_GET_REASON) stands for,
// when the certificate was not the cause; ProtocolError for a code without
// a kind of its own.
TTlsFailure TlsProtocolFailure(int reasonCode);

// The reason for such a failure; "" when the code has no text of its own.
std::string TlsProtocolProblem(int reasonCode);
