// TLS on the component's connection: the handshake after the TCP connect,
// and the two functions through which every byte of a connection is
// received and sent, plainly or through the TLS session.
#include "net/Tslink.h"

#include "net/ETlsError.h"
#include "net/Swallow.h"
#include "net/TslinkOperation.h"
#include "toolkit/runtime/ScopeExit.h"

void TTessalink::StartTls() {
    ReportStatus(StatusLevel::Detail, "TLS Handshake");
    bool established = false;
    try {
        if (!Proxy.empty())
            OpenTunnel();
        // The handshake's last flight and the first request go out as two
        // small sends; with Nagle's rule the second would wait for the
        // server's delayed acknowledgement of the first (up to 40 ms).
        const uint32_t noDelay = 1;
        Winsock::setsockopt(SocketHandle, Winsock::IPPROTO_TCP, Winsock::TCP_NODELAY,
                            reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
        TTlsTransport& socket = *this;
        m_tls = std::make_unique<TTlsSession>(Host, socket, TlsCaFile);
        TOperation handshake(*this, TOperation::TLimit::Armed);
        m_tlsHandshaking = true;
        ScopeExit handshakeOver([this] { m_tlsHandshaking = false; });
        while (!TimedOut && !Canceled && Connected) {
            const TTlsWait wait = m_tls->Handshake();
            if (wait == TTlsWait::None) {
                established = true;
                break;
            }
            if (wait == TTlsWait::Write)
                WaitUntilWritable(handshake);
            else
                handshake.Wait();
        }
    } catch (...) {
        // Nothing may go out in plain text on a connection meant for TLS.
        CloseQuietly();
        throw;
    }
    if (established) {
        ReportStatus(StatusLevel::Detail, "TLS Established");
        return;
    }
    CloseQuietly();
    if (TimedOut)
        throw ETlsError(TTlsFailure::TimedOut, TlsHandshakeTimedOut);
    if (Canceled)
        throw ETlsError(TTlsFailure::Canceled, TlsHandshakeCanceled);
    throw ETlsError(TTlsFailure::ServerClosed, std::string(TlsHandshakeFailed) + TlsServerClosed);
}

void TTessalink::CloseQuietly() noexcept {
    // The failure that ended the connection is what the caller hears.
    Swallow([this] { RequestCloseSocket(); });
}

int TTessalink::ReceiveInto(char* buffer, int size) {
    if (!m_tls)
        return Winsock::recv(SocketHandle, buffer, size, 0);
    TTlsWait wait = TTlsWait::None;
    const int received = m_tls->Read(buffer, size, wait);
    if (received > 0)
        return received;
    // A read that waits for room to send (a reply the protocol owes the
    // server) goes on at the next notification like one that waits for
    // bytes.
    if (wait != TTlsWait::None) {
        Winsock::WSASetLastError(Winsock::WSAEWOULDBLOCK);
        return Winsock::SOCKET_ERROR;
    }
    // A transport failure (a reset) ends the connection here, with its
    // error, which the readers raise once they have taken what came before.
    // Left to the close notification, as on a plain connection, it would
    // not end a reader that decrypts while it waits (DataAvailable): that
    // reader meets the failure again on every pass and the notification
    // never gets through.
    if (m_tls->CloseErrorNo() != 0) {
        m_closeErrorNo = static_cast<uint16_t>(m_tls->CloseErrorNo());
        m_closeErrorText.clear();
    }
    return 0;
}

int TTessalink::SendFrom(const char* data, int size) {
    if (!m_tls)
        return Winsock::send(SocketHandle, data, size, 0);
    TTlsWait wait = TTlsWait::None;
    const int sent = m_tls->Write(data, size, wait);
    if (sent > 0)
        return sent;
    Winsock::WSASetLastError(Winsock::WSAEWOULDBLOCK);
    return Winsock::SOCKET_ERROR;
}

int TTessalink::Receive(char* buffer, int size, int& errorNo) noexcept {
    const int received = Winsock::recv(SocketHandle, buffer, size, 0);
    if (received < 0)
        errorNo = Winsock::WSAGetLastError();
    return received;
}

int TTessalink::Send(const char* data, int size, int& errorNo) noexcept {
    const int sent = Winsock::send(SocketHandle, data, size, 0);
    if (sent < 0)
        errorNo = Winsock::WSAGetLastError();
    return sent;
}
