#pragma once

#include "tests/support/TestCertificates.h"

#include <openssl/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// A scripted TLS server on 127.0.0.1 for one connection, for what a real
// server cannot be told to do: offer only versions below TLS 1.2, or cut a
// reply that has no length with a reset.
//
// The constructor listens on an ephemeral port (Port()) and plays the script
// on its own thread: accept one client, finish the handshake with the given
// certificate, read the request head (up to its empty line), send the reply
// and end the connection as the script says. Nothing blocks forever: the
// destructor ends the script at its next wait and joins the thread.
class TlsLoopbackPeer {
public:
    enum class Ending {
        CloseNotify, // the closing alert, then FIN
        Close,       // FIN without the closing alert
        Reset,       // RST (SO_LINGER 0), whatever is still unsent is lost
        // Silence with the connection open until the peer is stopped, or
        // for 10 s at most, then FIN: a client that misses its own time
        // limit still sees an end.
        Stall,
    };
    struct Script {
        TestCertificates::Pair pair;
        // The newest version offered (TLS1_VERSION, TLS1_1_VERSION, ...),
        // at the library's security level 0, the only one that still allows
        // versions below TLS 1.2; 0: the library's newest, at its defaults.
        int maxVersion { 0 };
        std::string reply;
        Ending ending { Ending::CloseNotify };
    };

    explicit TlsLoopbackPeer(Script script);
    ~TlsLoopbackPeer();
    TlsLoopbackPeer(const TlsLoopbackPeer&) = delete;
    TlsLoopbackPeer& operator=(const TlsLoopbackPeer&) = delete;

    std::uint16_t Port() const { return m_port; }
    // True once the script has ended (with or without failure) before the
    // deadline.
    bool WaitDone(std::chrono::milliseconds deadline = std::chrono::seconds(30));
    // Why the script stopped early ("handshake: <reason>", "read: ..."), ""
    // when it ran to its end.
    std::string Failure() const;

private:
    struct TContextFree {
        void operator()(SSL_CTX* context) const;
    };
    struct TSslFree {
        void operator()(SSL* ssl) const;
    };

    // Ends the script at its next wait.
    void Stop();
    void Play();
    // One session step (handshake, read, write, shutdown) repeated until it
    // is done; false with the failure recorded when it fails or Stop() came.
    template <typename Step> bool Drive(SSL* ssl, const char* what, Step step);
    // Waits until the connection is ready for the events or Stop() is called.
    bool WaitFd(short events);
    // Waits until Stop() is called, for 10 s at most.
    void WaitForStop();
    void Fail(std::string message);
    void CloseConnection(Ending ending);

    Script m_script;
    std::uint16_t m_port { 0 };
    int m_listenFd { -1 };
    int m_connectionFd { -1 };
    int m_wakePipe[2] { -1, -1 };
    std::unique_ptr<SSL_CTX, TContextFree> m_context;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_failure;
    bool m_done { false };
};
