#pragma once

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
constexpr const char* TlsOldVersion = "the server does not offer TLS 1.2 or newer";
constexpr const char* TlsNothingInCommon = "the server accepts none of the offered ciphers";
constexpr const char* TlsServerClosed = "the server closed the connection";

// The reason for a certificate that the verification refused, by its
// verification result (X509_V_ERR_...); results without a text of their own
// read "certificate is not valid (<the library's text>)".
std::string TlsCertificateProblem(long verifyResult);

// The reason for a handshake that failed on a library error (its reason
// code, ERR_GET_REASON), when the certificate was not the cause; "" when the
// code has no text of its own.
std::string TlsProtocolProblem(int reasonCode);
