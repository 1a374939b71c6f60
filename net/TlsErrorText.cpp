#include "net/TlsErrorText.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace {

// The fixed reason of a failure that has one; nullptr for those whose
// text names the library's own reason or a socket error.
const char* FixedReason(TTlsFailure failure) {
    switch (failure) {
    case TTlsFailure::CertificateExpired:
        return TlsCertificateExpired;
    case TTlsFailure::CertificateNotYetValid:
        return TlsCertificateNotYetValid;
    case TTlsFailure::CertificateNotTrusted:
        return TlsCertificateNotTrusted;
    case TTlsFailure::CertificateRevoked:
        return TlsCertificateRevoked;
    case TTlsFailure::HostMismatch:
        return TlsHostMismatch;
    case TTlsFailure::NotTls:
        return TlsNotTls;
    case TTlsFailure::OldVersion:
        return TlsOldVersion;
    case TTlsFailure::NothingInCommon:
        return TlsNothingInCommon;
    case TTlsFailure::ServerClosed:
        return TlsServerClosed;
    case TTlsFailure::OutOfMemory:
        return TlsOutOfMemory;
    default:
        return nullptr;
    }
}

} // namespace

TTlsFailure TlsCertificateFailure(long verifyResult) {
    switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TTlsFailure::CertificateExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TTlsFailure::CertificateNotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TTlsFailure::HostMismatch;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return TTlsFailure::CertificateNotTrusted;
    case X509_V_ERR_CERT_REVOKED:
        return TTlsFailure::CertificateRevoked;
    default:
        return TTlsFailure::CertificateInvalid;
    }
}

std::string TlsCertificateProblem(long verifyResult) {
    if (const char* reason = FixedReason(TlsCertificateFailure(verifyResult)))
        return reason;
    return std::string("certificate is not valid (") + X509_verify_cert_error_string(verifyResult) +
           ")";
}

TTlsFailure TlsProtocolFailure(int reasonCode) {
    switch (reasonCode) {
    // What a client reads when the first answer is not a TLS record: a plain
    // HTTP reply, or any other protocol's greeting.
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_RECORD_LENGTH_MISMATCH:
    case SSL_R_UNEXPECTED_RECORD:
    case SSL_R_UNKNOWN_PROTOCOL:
    case SSL_R_ENCRYPTED_LENGTH_TOO_LONG:
        return TTlsFailure::NotTls;
    // The server's hello named an older version, or the server refused
    // ours with the protocol-version alert.
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
        return TTlsFailure::OldVersion;
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_NO_SHARED_CIPHER:
        return TTlsFailure::NothingInCommon;
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
        return TTlsFailure::ServerClosed;
    default:
        return TTlsFailure::ProtocolError;
    }
}

std::string TlsProtocolProblem(int reasonCode) {
    const char* reason = FixedReason(TlsProtocolFailure(reasonCode));
    return reason != nullptr ? reason : "";
}
