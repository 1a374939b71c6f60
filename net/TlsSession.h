#pragma once

#include "net/ETlsError.h"

#include <openssl/bio.h>
#include <openssl/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// Where the encrypted bytes of a TLS session go and come from: in the
// program, the socket component's non-blocking socket. Both calls follow the
// socket library's conventions: the bytes moved (> 0); 0 from Receive when
// the peer has closed; otherwise -1 with the socket library's error number
// in errorNo, WSAEWOULDBLOCK when the socket cannot move bytes now. They
// are called from inside the TLS library and must not throw.
class TTlsTransport {
public:
    virtual ~TTlsTransport() = default;
    virtual int Receive(char* buffer, int size, int& errorNo) noexcept = 0;
    virtual int Send(const char* data, int size, int& errorNo) noexcept = 0;

protected:
    TTlsTransport() = default;
    TTlsTransport(const TTlsTransport&) = default;
    TTlsTransport& operator=(const TTlsTransport&) = default;
};

// What a step of a session waits for before it can go on: nothing (done),
// the socket's read notification, or its write notification.
enum class TTlsWait { None, Read, Write };

// The client side of one TLS connection over a transport, checked as a
// browser checks it: TLS 1.2 or newer, SNI with the host name, the chain
// against the system's CA store (plus one optional extra CA file), and the
// host name or IP address literal against the certificate. There is no
// fallback to plain text and no way to switch the checks off.
//
// Nothing here blocks: the handshake, Read and Write each do what the
// transport allows now and say which notification to wait for before
// calling again. A step that has to be repeated is repeated with the same
// arguments (a write with the same bytes, at the same or another address).
//
// Errors are ETlsErrors with fixed texts and their kind: "TLS handshake
// failed: <reason>" for the handshake (reasons in net/TlsErrorText.h), "TLS
// connection failed: <reason>" for a broken record afterwards; a transport
// failure while sending is the ESockError with the socket error table's
// text, as on a plain connection.
//
// The session owns its context and connection objects and frees them with
// itself; none is shared with another session, so nothing of it outlives
// the connection it served. LiveSessions counts the sessions in existence,
// for leak checks.
class TTlsSession {
public:
    // host: the URL's host, a name or a dotted IPv4 address. extraCaFile: a
    // PEM file of certificates trusted in addition to the system's (empty:
    // none); a file that cannot be read raises ETlsError.
    TTlsSession(const std::string& host, TTlsTransport& transport,
                const std::string& extraCaFile = {});
    ~TTlsSession();
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    // One step of the handshake; TTlsWait::None once it is complete and the
    // server's certificate was accepted.
    TTlsWait Handshake();
    // Decrypted bytes into buffer: their number (> 0), or 0 with wait set to
    // what to wait for, or 0 with wait None once the peer has closed (with
    // or without a closing alert; a transport failure counts as a close and
    // leaves its number in CloseErrorNo).
    int Read(char* buffer, int size, TTlsWait& wait);
    // Encrypts and sends up to size bytes: the number taken (> 0), or 0 with
    // wait set to what to wait for.
    int Write(const char* data, int size, TTlsWait& wait);
    // Sends the closing alert if the transport takes it now; never fails.
    void Shutdown() noexcept;
    // Decrypted bytes held inside the session that Read returns without
    // asking the transport.
    int Pending() const;
    // The socket library's error number of a transport failure that ended
    // the connection, 0 for a close or while it lasts.
    int CloseErrorNo() const { return m_closeErrorNo; }

    static int LiveSessions() { return s_live.load(); }

private:
    struct TContextFree {
        void operator()(SSL_CTX* context) const;
    };
    struct TSslFree {
        void operator()(SSL* ssl) const;
    };
    struct TMethodFree {
        void operator()(BIO_METHOD* method) const;
    };

    static int TransportRead(BIO* bio, char* buffer, int size);
    static int TransportWrite(BIO* bio, const char* data, int size);
    static long TransportControl(BIO* bio, int command, long number, void* pointer);
    void MakeContext(const std::string& extraCaFile);
    void SetPeerIdentity(const std::string& host);
    // The notification a result of an operation asks to wait for; None
    // when it is final. error receives the library's error kind.
    TTlsWait RetryWait(int result, int& error) const;
    // After a failed send or read: the transport's error, or the library's.
    [[noreturn]] void RaiseConnectionFailure();
    // The error for the handshake failure just seen.
    ETlsError HandshakeFailure() const;

    TTlsTransport& m_transport;
    std::unique_ptr<SSL_CTX, TContextFree> m_context;
    std::unique_ptr<BIO_METHOD, TMethodFree> m_method;
    // Owns the transport BIO as well.
    std::unique_ptr<SSL, TSslFree> m_ssl;
    // Set by the transport callbacks: the peer closed, or the transport
    // failed with this error number.
    bool m_peerClosed { false };
    int m_transportError { 0 };
    int m_closeErrorNo { 0 };

    static std::atomic<int> s_live;
};
