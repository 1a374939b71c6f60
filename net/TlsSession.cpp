#include "net/TlsSession.h"

#include "net/ETlsError.h"
#include "net/SocketErrorText.h"
#include "net/TlsErrorText.h"
#include "platform/Winsock.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>

std::atomic<int> TTlsSession::s_live { 0 };

namespace {

std::string LibraryReason(unsigned long code) {
    const char* text = ERR_reason_error_string(code);
    return text != nullptr ? text : "error " + std::to_string(ERR_GET_REASON(code));
}

ETlsError HandshakeError(TTlsFailure failure, const std::string& reason) {
    return ETlsError(failure, TlsHandshakeFailed + reason);
}

} // namespace

void TTlsSession::TContextFree::operator()(SSL_CTX* context) const {
    SSL_CTX_free(context);
}

void TTlsSession::TSslFree::operator()(SSL* ssl) const {
    SSL_free(ssl);
}

void TTlsSession::TMethodFree::operator()(BIO_METHOD* method) const {
    BIO_meth_free(method);
}

TTlsSession::TTlsSession(const std::string& host, TTlsTransport& transport,
                         const std::string& extraCaFile)
    : m_transport(transport) {
    ERR_clear_error();
    MakeContext(extraCaFile);

    m_method.reset(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "socket component"));
    if (!m_method || BIO_meth_set_read(m_method.get(), &TransportRead) != 1 ||
        BIO_meth_set_write(m_method.get(), &TransportWrite) != 1 ||
        BIO_meth_set_ctrl(m_method.get(), &TransportControl) != 1)
        throw HandshakeError(TTlsFailure::OutOfMemory, TlsOutOfMemory);
    m_ssl.reset(SSL_new(m_context.get()));
    BIO* bio = m_ssl ? BIO_new(m_method.get()) : nullptr;
    if (bio == nullptr)
        throw HandshakeError(TTlsFailure::OutOfMemory, TlsOutOfMemory);
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    // The connection owns the BIO from here on, for reading and writing.
    SSL_set_bio(m_ssl.get(), bio, bio);
    SSL_set_connect_state(m_ssl.get());
    // A send that could not finish is repeated from the caller's buffer,
    // which may have moved; partial sends report what was taken.
    SSL_set_mode(m_ssl.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SetPeerIdentity(host);
    ++s_live;
}

TTlsSession::~TTlsSession() {
    --s_live;
}

void TTlsSession::MakeContext(const std::string& extraCaFile) {
    m_context.reset(SSL_CTX_new(TLS_client_method()));
    if (!m_context)
        throw HandshakeError(TTlsFailure::OutOfMemory, TlsOutOfMemory);
    SSL_CTX* context = m_context.get();
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // Many servers close without the closing alert; the HTTP layer's own
    // framing (the announced length) tells a cut-off body from a whole one,
    // as it does on a plain connection.
    // A send never has to wait for a read: the server cannot ask for a
    // renegotiation in the middle of the data.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    // The system's CA store, as its hashed directory (SSL_CERT_DIR when
    // set): certificates are read only when a chain needs them. A bundle
    // file (SSL_CERT_FILE, or what SSL_CTX_set_default_verify_paths would
    // load) is parsed whole up front, about 40 ms per connection for the
    // system's bundle, more than fetching a small page; a CA of one's own
    // goes through the extra CA file instead.
    const char* directory = std::getenv(X509_get_default_cert_dir_env());
    SSL_CTX_load_verify_dir(context,
                            directory != nullptr ? directory : X509_get_default_cert_dir());
    ERR_clear_error();
    if (!extraCaFile.empty() && SSL_CTX_load_verify_file(context, extraCaFile.c_str()) != 1) {
        ERR_clear_error();
        throw HandshakeError(TTlsFailure::CaFileUnreadable,
                             "cannot read the CA file \"" + extraCaFile + "\"");
    }
}

void TTlsSession::SetPeerIdentity(const std::string& host) {
    X509_VERIFY_PARAM* parameters = SSL_get0_param(m_ssl.get());
    // An address literal is checked against the certificate's IP addresses
    // and is never sent as the server name.
    if (X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str()) == 1)
        return;
    ERR_clear_error();
    X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (SSL_set1_host(m_ssl.get(), host.c_str()) != 1 ||
        SSL_set_tlsext_host_name(m_ssl.get(), host.c_str()) != 1) {
        ERR_clear_error();
        throw HandshakeError(TTlsFailure::HostMismatch, TlsHostMismatch);
    }
}

int TTlsSession::TransportRead(BIO* bio, char* buffer, int size) {
    auto* session = static_cast<TTlsSession*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    int errorNo = 0;
    const int received = session->m_transport.Receive(buffer, size, errorNo);
    if (received > 0)
        return received;
    if (received == 0) {
        session->m_peerClosed = true;
        return 0;
    }
    if (errorNo == Winsock::WSAEWOULDBLOCK) {
        BIO_set_retry_read(bio);
        return -1;
    }
    session->m_transportError = errorNo;
    return -1;
}

int TTlsSession::TransportWrite(BIO* bio, const char* data, int size) {
    auto* session = static_cast<TTlsSession*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    int errorNo = 0;
    const int sent = session->m_transport.Send(data, size, errorNo);
    if (sent > 0)
        return sent;
    if (sent < 0 && errorNo == Winsock::WSAEWOULDBLOCK) {
        BIO_set_retry_write(bio);
        return -1;
    }
    session->m_transportError = errorNo != 0 ? errorNo : Winsock::WSAECONNRESET;
    return -1;
}

long TTlsSession::TransportControl(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        // Every write goes straight to the socket.
        return 1;
    case BIO_CTRL_EOF:
        return static_cast<TTlsSession*>(BIO_get_data(bio))->m_peerClosed ? 1 : 0;
    default:
        return 0;
    }
}

TTlsWait TTlsSession::RetryWait(int result, int& error) const {
    error = SSL_get_error(m_ssl.get(), result);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return TTlsWait::Read;
    case SSL_ERROR_WANT_WRITE:
        return TTlsWait::Write;
    default:
        return TTlsWait::None;
    }
}

void TTlsSession::RaiseConnectionFailure() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (m_transportError != 0)
        throw ESockError(SocketErrorFailure(m_transportError),
                         SocketErrorTableText(static_cast<uint16_t>(m_transportError)));
    throw ETlsError(TTlsFailure::ConnectionBroken,
                    TlsConnectionFailed + (code != 0 ? LibraryReason(code) : "unknown error"));
}

TTlsWait TTlsSession::Handshake() {
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl.get());
    if (result == 1)
        return TTlsWait::None;
    int error = 0;
    const TTlsWait wait = RetryWait(result, error);
    if (wait != TTlsWait::None)
        return wait;
    ETlsError failure = HandshakeFailure();
    ERR_clear_error();
    throw failure;
}

ETlsError TTlsSession::HandshakeFailure() const {
    const long verifyResult = SSL_get_verify_result(m_ssl.get());
    if (verifyResult != X509_V_OK)
        return HandshakeError(TlsCertificateFailure(verifyResult),
                              TlsCertificateProblem(verifyResult));
    if (m_transportError != 0)
        return HandshakeError(TTlsFailure::SocketFailed,
                              SocketErrorTableText(static_cast<uint16_t>(m_transportError)));
    const unsigned long code = ERR_peek_last_error();
    const TTlsFailure failure =
        code != 0 ? TlsProtocolFailure(ERR_GET_REASON(code)) : TTlsFailure::ProtocolError;
    if (failure != TTlsFailure::ProtocolError)
        return HandshakeError(failure, TlsProtocolProblem(ERR_GET_REASON(code)));
    if (m_peerClosed)
        return HandshakeError(TTlsFailure::ServerClosed, TlsServerClosed);
    return HandshakeError(failure, code != 0 ? LibraryReason(code) : "unknown error");
}

int TTlsSession::Read(char* buffer, int size, TTlsWait& wait) {
    ERR_clear_error();
    const int received = SSL_read(m_ssl.get(), buffer, size);
    wait = TTlsWait::None;
    if (received > 0)
        return received;
    int error = 0;
    wait = RetryWait(received, error);
    if (wait != TTlsWait::None || error == SSL_ERROR_ZERO_RETURN)
        return 0;
    // A transport failure or a close without the closing alert ends the
    // connection like a close of a plain one.
    if (m_transportError != 0 || m_peerClosed) {
        m_closeErrorNo = m_transportError;
        ERR_clear_error();
        return 0;
    }
    RaiseConnectionFailure();
}

int TTlsSession::Write(const char* data, int size, TTlsWait& wait) {
    wait = TTlsWait::None;
    if (size <= 0)
        return 0;
    ERR_clear_error();
    const int sent = SSL_write(m_ssl.get(), data, size);
    if (sent > 0)
        return sent;
    int error = 0;
    wait = RetryWait(sent, error);
    if (wait != TTlsWait::None)
        return 0;
    RaiseConnectionFailure();
}

void TTlsSession::Shutdown() noexcept {
    if (SSL_is_init_finished(m_ssl.get()) == 1)
        SSL_shutdown(m_ssl.get());
    ERR_clear_error();
}

int TTlsSession::Pending() const {
    return SSL_pending(m_ssl.get());
}
