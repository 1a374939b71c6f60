#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// A TCP relay on 127.0.0.1 that puts a loopback server at a distance, for
// measuring a client as it would do on a real network. Each accepted
// connection is relayed to 127.0.0.1:targetPort, and every chunk read from
// one side is written to the other one one-way delay (half the round trip)
// later, in order, so a request and its response pay one round trip. A new
// connection pays one more, as its handshake would: nothing the client sends
// leaves before a round trip has passed since the accept.
//
// An orderly close of one side reaches the other as a half-close (shutdown)
// after the same delay. A reset or any other error on one side, or a target
// that refuses the connection, ends both sides at once, the client with a
// reset.
//
// Memory is bounded: a direction holds at most kWindow bytes not yet
// written; the relay stops reading that side until they have gone out, as a
// TCP window would (so one connection carries at most kWindow per one-way
// delay). At most kMostConnections connections are relayed at a time; more
// wait in the listener's queue.
//
// The relay runs on a thread of its own, polling the sockets; the round trip
// may be changed at any time and applies to the chunks read from then on.
class DelayProxy {
public:
    static constexpr size_t kWindow = size_t { 4 } * 1024 * 1024;
    static constexpr size_t kMostConnections = 256;

    // Listens on 127.0.0.1 port 0 and starts the relay, with no delay yet.
    // Throws std::runtime_error when the listener cannot be made.
    explicit DelayProxy(uint16_t targetPort);
    // Ends the relay (every connection closed) and waits for its thread.
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    uint16_t Port() const { return m_port; }
    // "http://127.0.0.1:<port>".
    std::string Url() const;

    void SetRoundTrip(std::chrono::microseconds roundTrip);
    // Connections accepted so far.
    uint64_t Connections() const { return m_connections; }
    // The processor time the relay's thread has used so far, in seconds (so
    // that a benchmark in the same process can leave it out).
    double ThreadSeconds() const;
    // Why the relay stopped working, or empty while it works. Failures of
    // single connections do not count: they end that connection only.
    std::string Failure() const;

private:
    class TRelay;

    void Run();
    void Fail(const std::string& why);

    uint16_t m_port { 0 };
    std::atomic<int64_t> m_oneWayMicroseconds { 0 };
    std::atomic<uint64_t> m_connections { 0 };
    mutable std::mutex m_failureLock;
    std::string m_failure;
    std::unique_ptr<TRelay> m_relay;
    clockid_t m_threadClock {};
    // Last: the thread ends before what it uses goes.
    std::thread m_thread;
};
