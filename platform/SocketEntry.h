#pragma once

#include "platform/SocketPoller.h"
#include "platform/Winsock.h"

#include <cstdint>
#include <memory>
#include <thread>

// One socket of the library: its POSIX descriptor and, once registered with
// WSAAsyncSelect, its watch in the thread's SocketPoller and the bookkeeping
// that turns readiness into the library's one-shot notifications.
//
// Readiness and notification are kept apart: the kernel's readiness is
// level-triggered and would repeat forever, while the library reports each
// kind once and re-enables it only through the call that consumes it. The
// watch of a kind is therefore switched off while its notification is
// "reported" and on again by that call (recv for read and out-of-band data,
// accept for incoming connections, a send that would block for write). Only
// the kinds that the registration asked for are ever watched. The kernel
// reports changes of readiness only (SocketPoller), so a call that may have
// left a reported readiness in place (a read that filled its buffer, a peek,
// an accept) has the kernel asked again when it re-enables the kind.
//
// All members are used on the thread that owns the registration's window.
class SocketEntry final : public std::enable_shared_from_this<SocketEntry>,
                          private SocketPoller::Watcher {
public:
    SocketEntry(Winsock::SOCKET handle, int descriptor);
    ~SocketEntry();
    SocketEntry(const SocketEntry&) = delete;
    SocketEntry& operator=(const SocketEntry&) = delete;

    Winsock::SOCKET Handle() const { return m_handle; }
    int Descriptor() const { return m_descriptor; }
    // The library's mode: blocking until the first registration. The
    // descriptor itself never blocks; the library's calls wait for a socket
    // in blocking mode.
    bool IsNonBlocking() const { return m_nonBlocking; }
    // True once a connection was made on the socket, also after it ended.
    bool HasConnected() const { return m_state == State::Connected; }
    // True unless the socket is registered for a window of another thread.
    bool MayUseHere() const;

    // WSAAsyncSelect; returns 0 or a WSA error number.
    int Select(HWND window, UINT message, long events);
    // Gives an accepted socket the registration of its listening socket.
    void InheritRegistration(const SocketEntry& listening);

    // Called by the library calls after they talked to the kernel.
    // Before a connect of any kind: from then on only the kernel knows for
    // sure whether the socket is connected.
    void ConnectAttempted();
    // connectErrno: 0 (connected at once), EINPROGRESS, or the failure.
    void ConnectStarted(int connectErrno);
    void Connected();
    void Listening();
    // drained: the call has left nothing to read (a read of data that got
    // less than it asked for, or would have blocked).
    void ConsumedData(bool drained);
    // drained: accept would have blocked.
    void ConsumedConnection(bool drained);
    void SendBlocked();
    // A call learned that the connection was reset or aborted; the kernel
    // reports that only once, so the entry keeps it for FD_CLOSE and for
    // later recv and send calls.
    void ConnectionLost(int error);

    // Whether SO_LINGER is known to be off: a new socket's is, an accepted
    // one has its listening socket's; setsockopt tells every change.
    bool LingerIsOff() const { return m_lingerOff; }
    void LingerChanged(bool on) { m_lingerOff = !on; }

    // Whether the registration is the one that the count names (see
    // m_generation).
    bool IsRegistration(unsigned generation) const { return m_generation == generation; }

    // The error that ended the connection (reported with FD_CLOSE), 0 when
    // it ended in order or still stands; recv and send report it.
    int ClosingError() const { return m_closingError; }

private:
    // Fresh: made by socket() and never asked to connect or listen, so it is
    // neither, and a registration need not ask the kernel. Idle: not
    // connected as far as the entry knows (a blocking connect that failed
    // may still complete in the kernel).
    enum class State { Fresh, Idle, Connecting, Connected, Listening };

    // What the readiness brings is delivered in the same turn of the event
    // loop, once the bookkeeping is done (NotificationBatch::Deliver).
    void Ready(unsigned kinds) override;
    void OnReady(unsigned kinds);
    // dataWaits: the kernel has just reported data, and no end of stream.
    void OnReadable(bool dataWaits);
    // trouble: the kernel reported an error or a hang-up with it.
    void OnWritable(bool trouble);
    // The end of a connection attempt; error is the kernel's (0: connected).
    void ConnectEnded(int error);
    void OnUrgent();
    void Notify(long event, int error);
    // Sets the watched kinds from the state and the registration; askAgain:
    // a readiness that was reported may still be there (SocketPoller::Set).
    void UpdateNotifiers(bool askAgain = false);
    // closing: the descriptor closes next (see SocketPoller::Remove).
    void ReleaseNotifiers(bool closing = false);

    Winsock::SOCKET m_handle = Winsock::INVALID_SOCKET;
    int m_descriptor = -1;
    bool m_nonBlocking = false;
    bool m_lingerOff = false;
    State m_state = State::Fresh;

    HWND m_window = 0;
    UINT m_message = 0;
    long m_events = 0;
    std::thread::id m_owner;
    // Counts registrations (and closing): a queued notification carries the
    // count of its time and is dropped when the count has moved on.
    unsigned m_generation = 0;

    // "Reported": posted, and not re-enabled by the consuming call yet.
    bool m_readReported = false;
    // FD_READ came from a report of data without an end of stream: a read
    // that drains the data leaves nothing that the kernel will not report.
    bool m_readReportedOnData = false;
    bool m_urgentReported = false;
    bool m_acceptReported = false;
    // FD_CLOSE is posted once, after all data was consumed.
    bool m_closeReported = false;
    // A send failed with would-block: FD_WRITE comes when sending can go on.
    bool m_writeWanted = false;
    int m_closingError = 0;

    // The watch in the poller of the registering thread, kept from the first
    // registration to the end of the socket (or a registration from another
    // thread). Weak: the thread owns its poller.
    std::weak_ptr<SocketPoller> m_poller;
    std::uint64_t m_watch = 0;
    // The kinds the watch was last set to: the entry updates them after
    // nearly every change of its state, and mostly they stay the same.
    unsigned m_watchedKinds = 0;
};
