#include "net/TlsErrorText.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

std::string TlsCertificateProblem(long verifyResult) {
    switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TlsCertificateExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TlsCertificateNotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TlsHostMismatch;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return TlsCertificateNotTrusted;
    case X509_V_ERR_CERT_REVOKED:
        return TlsCertificateRevoked;
    default:
        return std::string("certificate is not valid (") +
               X509_verify_cert_error_string(verifyResult) + ")";
    }
}

std::string TlsProtocolProblem(int reasonCode) {
    switch (reasonCode) {
    // What a client reads when the first answer is not a TLS record: a plain
    // HTTP reply, or any other protocol's greeting.
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_RECORD_LENGTH_MISMATCH:
    case SSL_R_UNEXPECTED_RECORD:
    case SSL_R_UNKNOWN_PROTOCOL:
    case SSL_R_ENCRYPTED_LENGTH_TOO_LONG:
        return TlsNotTls;
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
        return TlsOldVersion;
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_NO_SHARED_CIPHER:
        return TlsNothingInCommon;
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
        return TlsServerClosed;
    default:
        return {};
    }
}
