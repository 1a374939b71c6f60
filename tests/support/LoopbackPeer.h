#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted TCP server on 127.0.0.1 for tests of the socket and HTTP code.
//
// The constructor listens on an ephemeral port (Port()); the test then adds
// steps and calls Start(), which plays them in order on the peer's own
// thread. Steps act on the current connection, which Accept() replaces (a
// previous connection is closed first), so one peer can serve several
// connections in a row.
//
//     LoopbackPeer peer;
//     peer.Accept()
//         .ReadUntil("\r\n\r\n")                       // the request head
//         .SendInPieces("HTTP/1.0 200 OK\r\n\r\nbody")  // random-sized writes
//         .Close();
//     peer.Start();
//     ... connect to 127.0.0.1:peer.Port() and talk ...
//     ASSERT_TRUE(peer.WaitDone());
//     EXPECT_EQ(peer.Received(), "GET / HTTP/1.0\r\n...\r\n\r\n");
//     EXPECT_EQ(peer.Failure(), "");
//
// Everything read by a read step is appended to Received(). A step that
// cannot do its work (the client closed early, bytes differ from Expect,
// a socket call failed) records a message in Failure() and ends the script;
// the connection is then closed. Nothing blocks forever: every blocking
// call also wakes for Stop() and the destructor, which end the script, close
// all sockets and join the thread. WaitDone() is the one way to wait for the
// script, with a generous deadline; it does not measure speed.
class LoopbackPeer {
public:
    // Listens on the given loopback address (another one of 127.0.0.0/8
    // plays a second host).
    explicit LoopbackPeer(std::string address = "127.0.0.1");
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    std::uint16_t Port() const { return m_port; }
    const std::string& Address() const { return m_address; }

    // Script steps; add them before Start().

    // Waits for the next client and makes it the current connection.
    LoopbackPeer& Accept();
    // Reads exactly expected.size() bytes and fails unless they match.
    LoopbackPeer& Expect(std::string expected);
    // Reads until the received bytes of this connection end with delimiter.
    LoopbackPeer& ReadUntil(std::string delimiter);
    // Reads exactly count bytes.
    LoopbackPeer& ReadBytes(std::size_t count);
    // Reads what one read call returns, at least one byte. On loopback a
    // message the client sent with one write arrives whole this way.
    LoopbackPeer& ReadOnce();
    // Reads until the client closes its side (orderly or by reset).
    LoopbackPeer& ReadToEnd();
    // Sends the bytes in one write call (which may still arrive in pieces).
    LoopbackPeer& Send(std::string bytes);
    // Sends the bytes as separate writes of random sizes from 1 to maxPiece,
    // with a pause after each (0: none). The sizes come from seed, so a
    // failing case replays. TCP_NODELAY is on, so pieces leave at once.
    LoopbackPeer& SendInPieces(std::string bytes, unsigned seed = 1, std::size_t maxPiece = 7,
                               std::chrono::milliseconds pause = std::chrono::milliseconds(1));
    // Sleeps; only for shaping traffic, never for ordering a test.
    LoopbackPeer& Pause(std::chrono::milliseconds duration);
    // Waits until the test calls Release() (one Release per WaitForRelease).
    LoopbackPeer& WaitForRelease();
    // Holds the connection without reading or writing until Release() (or
    // Stop()); the client's bytes pile up in the kernel meanwhile.
    LoopbackPeer& Stall();
    // Calls a function of the test on the peer's thread.
    LoopbackPeer& Run(std::function<void()> action);
    // Closes the current connection in an orderly way (FIN).
    LoopbackPeer& Close();
    // Closes the current connection with a reset (SO_LINGER 0: RST).
    LoopbackPeer& Reset();

    // Makes the receive buffer of the connections it accepts small, so that
    // a client's sends start to block early. Call before Start().
    void SetReceiveBuffer(int bytes);

    // Plays the script on the peer's thread. Call once.
    void Start();
    // Lets one WaitForRelease or Stall step go on (or the next one that comes).
    void Release();
    // Ends the script at its next step or blocking call.
    void Stop();

    // True once the script has finished (with or without failure) before the
    // deadline; false when the deadline passed.
    bool WaitDone(std::chrono::milliseconds deadline = std::chrono::seconds(30));
    // True once at least count bytes have been received, before the deadline.
    bool WaitReceived(std::size_t count,
                      std::chrono::milliseconds deadline = std::chrono::seconds(30));

    std::string Received() const;
    std::string Failure() const;
    int AcceptedCount() const;

    // A loopback port with no listener (bound, then closed), for refused
    // connections.
    static std::uint16_t UnusedPort();

private:
    enum class Outcome { Next, Fail, Stop };
    using Step = std::function<Outcome()>;

    void Play();
    Outcome Fail(std::string message);
    // Waits until fd is ready for the given poll events or Stop() is called.
    bool WaitFd(int fd, short events);
    Outcome ReadSome(std::size_t maxBytes, std::size_t* got);
    Outcome SendAll(const char* data, std::size_t length);
    void CloseConnection();
    void AppendReceived(const char* data, std::size_t length);

    std::string m_address;
    std::uint16_t m_port = 0;
    int m_listenFd = -1;
    int m_connectionFd = -1;
    int m_wakePipe[2] = { -1, -1 };
    // Bytes of the current connection, for ReadUntil.
    std::string m_connectionReceived;
    std::vector<Step> m_steps;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_received;
    std::string m_failure;
    int m_accepted = 0;
    int m_releases = 0;
    bool m_stopping = false;
    bool m_done = false;
};
