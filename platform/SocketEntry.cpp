#include "platform/SocketEntry.h"

#include "platform/MessageQueue.h"
#include "platform/NotificationBatch.h"
#include "platform/PosixSocket.h"
#include "platform/SocketPoller.h"
#include "platform/WinsockError.h"

#include <cerrno>
#include <unistd.h>

using namespace Winsock;

SocketEntry::SocketEntry(SOCKET handle, int descriptor)
    : m_handle(handle), m_descriptor(descriptor) {}

SocketEntry::~SocketEntry() {
    ReleaseNotifiers(true);
    ::close(m_descriptor);
}

bool SocketEntry::MayUseHere() const {
    return m_events == 0 || m_owner == std::this_thread::get_id();
}

void SocketEntry::ReleaseNotifiers(bool closing) {
    // Any thread may end the watch; a poller whose thread has ended took its
    // epoll set, and so the watch, with it.
    if (auto poller = m_poller.lock())
        poller->Remove(m_watch, closing);
    m_poller.reset();
    m_watch = 0;
    m_watchedKinds = 0;
}

int SocketEntry::Select(HWND window, UINT message, long events) {
    const MessageQueue* queue = MessageQueue::Current();
    if (events != 0 && !(queue && queue->HasWindow(window)))
        return WSAEINVAL;
    if (m_events != 0 && m_owner != std::this_thread::get_id())
        return WSAEINVAL;
    // The thread's poller is made at its first registration, which takes a
    // descriptor: fail before anything changes.
    std::shared_ptr<SocketPoller> poller;
    if (events != 0) {
        poller = SocketPoller::ForThisThread();
        if (!poller)
            return WinsockErrorFromErrno(errno);
    }
    // The descriptor is non-blocking already; only the library's mode changes.
    m_nonBlocking = true;
    ++m_generation;
    m_window = window;
    m_message = message;
    m_events = events & FD_ALL_EVENTS;
    m_readReported = m_urgentReported = m_acceptReported = m_closeReported = false;
    m_writeWanted = false;
    if (m_events == 0) {
        UpdateNotifiers();
        return 0;
    }
    // A watch belongs to the poller of one thread: a registration from
    // another thread (after the old one was cancelled) moves it.
    if (m_watch != 0 && m_owner != std::this_thread::get_id())
        ReleaseNotifiers();
    m_owner = std::this_thread::get_id();
    // A socket that went through a blocking connect or listen behind the
    // entry's back (one that failed, or was interrupted) is asked.
    if (m_state == State::Idle && Posix::IsListening(m_descriptor))
        m_state = State::Listening;
    else if (m_state == State::Idle && Posix::PeerAddress(m_descriptor, nullptr, nullptr) == 0)
        m_state = State::Connected;
    if (m_watch == 0) {
        // The watch tells this entry as long as it lives; the base is
        // private, so the pointer is made here.
        const std::shared_ptr<Watcher> watcher(shared_from_this(), this);
        m_watch = poller->Add(m_descriptor, watcher);
        m_poller = poller;
    }
    // A connected socket hears FD_WRITE as soon as it can send.
    m_writeWanted = m_state == State::Connected && (m_events & FD_WRITE);
    // Reported afresh: what lasts from before is asked for again.
    UpdateNotifiers(true);
    return 0;
}

void SocketEntry::InheritRegistration(const SocketEntry& listening) {
    if (listening.m_events != 0)
        Select(listening.m_window, listening.m_message, listening.m_events);
}

void SocketEntry::ConnectAttempted() {
    if (m_state == State::Fresh)
        m_state = State::Idle;
}

void SocketEntry::ConnectStarted(int connectErrno) {
    if (connectErrno == 0) {
        Connected();
        return;
    }
    if (connectErrno != EINPROGRESS) {
        Notify(FD_CONNECT, WinsockErrorFromErrno(connectErrno));
        return;
    }
    m_state = State::Connecting;
    UpdateNotifiers();
}

void SocketEntry::Connected() {
    bool completing = m_state != State::Connected;
    m_state = State::Connected;
    if (completing && m_events != 0) {
        Notify(FD_CONNECT, 0);
        Notify(FD_WRITE, 0);
    }
    UpdateNotifiers();
}

void SocketEntry::Listening() {
    m_state = State::Listening;
    UpdateNotifiers();
}

void SocketEntry::ConsumedData(bool drained) {
    // Data left behind, an end of stream that came with the data reported,
    // or urgent data (which a read of data does not take) lasts unchanged.
    const bool askAgain =
        (m_readReported && !(drained && m_readReportedOnData)) || m_urgentReported;
    m_readReported = false;
    m_urgentReported = false;
    UpdateNotifiers(askAgain);
}

void SocketEntry::ConsumedConnection(bool drained) {
    const bool askAgain = m_acceptReported && !drained;
    m_acceptReported = false;
    UpdateNotifiers(askAgain);
}

void SocketEntry::ConnectionLost(int error) {
    if (m_closingError == 0)
        m_closingError = error;
}

void SocketEntry::SendBlocked() {
    m_writeWanted = true;
    UpdateNotifiers();
}

void SocketEntry::UpdateNotifiers(bool askAgain) {
    if (m_watch == 0)
        return;
    bool registered = m_events != 0;
    bool connected = registered && m_state == State::Connected;
    unsigned kinds = 0;
    // Readiness to read is what reports data, the close and (on a listening
    // socket) incoming connections.
    if ((m_events & (FD_READ | FD_CLOSE)) && connected && !m_readReported && !m_closeReported)
        kinds |= SocketPoller::Read;
    if ((m_events & FD_ACCEPT) && registered && m_state == State::Listening && !m_acceptReported)
        kinds |= SocketPoller::Read;
    // A connection in progress is always watched: its completion changes the
    // state, whatever the registration reports of it.
    if (registered && m_state == State::Connecting)
        kinds |= SocketPoller::Write;
    if ((m_events & FD_WRITE) && connected && m_writeWanted && !m_closeReported)
        kinds |= SocketPoller::Write;
    if ((m_events & FD_OOB) && connected && !m_urgentReported && !m_closeReported)
        kinds |= SocketPoller::Urgent;
    if (kinds == m_watchedKinds && !askAgain)
        return;
    auto poller = m_poller.lock();
    if (poller && poller->Set(m_watch, kinds, askAgain))
        m_watchedKinds = kinds;
}

void SocketEntry::Ready(unsigned kinds) {
    NotificationBatch batch;
    OnReady(kinds);
    batch.Deliver();
}

void SocketEntry::OnReady(unsigned kinds) {
    // A completing connection first, so that its data is read as data of a
    // connected socket.
    if (kinds & SocketPoller::Write)
        OnWritable((kinds & SocketPoller::Trouble) != 0);
    if (kinds & SocketPoller::Read)
        OnReadable((kinds & SocketPoller::DataWaits) != 0);
    if (kinds & SocketPoller::Urgent)
        OnUrgent();
}

void SocketEntry::OnReadable(bool dataWaits) {
    if (m_state == State::Listening) {
        m_acceptReported = true;
        Notify(FD_ACCEPT, 0);
    } else if (m_state == State::Connected) {
        // Unless the kernel has just said so, a one-byte peek tells data from
        // end of stream without taking anything: the close is reported only
        // once no data is left.
        long n = dataWaits ? 1 : Posix::PeekByte(m_descriptor);
        if (n > 0) {
            m_readReported = true;
            m_readReportedOnData = dataWaits;
            Notify(FD_READ, 0);
        } else if (n == 0) {
            // End of stream; after a reset whose error an earlier call took
            // from the kernel, the close still carries that error.
            m_closeReported = true;
            Notify(FD_CLOSE, m_closingError);
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            // The peek has taken the kernel's pending error; keep it for the
            // calls that come after the close.
            m_closeReported = true;
            ConnectionLost(WinsockErrorFromErrno(errno));
            Notify(FD_CLOSE, m_closingError);
        }
    }
    UpdateNotifiers();
}

void SocketEntry::ConnectEnded(int error) {
    if (error == ECONNRESET || error == ECONNABORTED || error == EPIPE) {
        // Made, then lost before we looked: the connection did complete,
        // and its loss is reported as a close once its data is read.
        ConnectionLost(WinsockErrorFromErrno(ECONNRESET));
        Connected();
    } else if (error != 0) {
        // A refused, unreachable or timed-out attempt may be repeated on
        // the same socket; the kernel needs to be told it is over.
        Posix::Dissolve(m_descriptor);
        m_state = State::Idle;
        Notify(FD_CONNECT, WinsockErrorFromErrno(error));
        UpdateNotifiers();
    } else {
        Connected();
    }
}

void SocketEntry::OnWritable(bool trouble) {
    if (m_state == State::Connecting) {
        // Writable without an error or a hang-up: the handshake is done, and
        // the kernel has no error to tell.
        ConnectEnded(trouble ? Posix::PendingError(m_descriptor) : 0);
    } else if (m_writeWanted) {
        m_writeWanted = false;
        Notify(FD_WRITE, 0);
    }
    UpdateNotifiers();
}

void SocketEntry::OnUrgent() {
    // Some dispatchers wake exception notifiers for socket errors too; only
    // real urgent data is reported. Either way the notifier rests until the
    // next recv, so a lasting error cannot keep waking it.
    m_urgentReported = true;
    if (Posix::HasUrgentData(m_descriptor))
        Notify(FD_OOB, 0);
    UpdateNotifiers();
}

void SocketEntry::Notify(long event, int error) {
    if (!(m_events & event))
        return;
    const LPARAM reply = WSAMAKESELECTREPLY(static_cast<WORD>(event), static_cast<WORD>(error));
    if (!NotificationBatch::Post(
            { m_window, m_message, m_handle, reply, weak_from_this(), m_generation })) {
        // The window is gone: nobody can hear this socket any more.
        m_events = 0;
        UpdateNotifiers();
    }
}
