#pragma once

#include <QPointer>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

class QSocketNotifier;

// The readiness watch of every registered socket of one thread: one epoll set,
// which the thread's Qt event dispatcher watches through a single socket
// notifier made once for the life of the thread.
//
// Why not a socket notifier per socket and kind: the library switches a
// socket's kinds on and off at nearly every notification, a client renews its
// socket after every connection, and each notifier that Qt's dispatcher adds
// or removes wakes the dispatcher (a write to its wake-up descriptor). A
// small page fetch cost fourteen such wake-ups. Here switching a kind wakes
// nobody and mostly costs no system call (below), and the dispatcher's set
// of descriptors never changes.
//
// The epoll set is edge-triggered: the kernel reports a descriptor when its
// readiness changes (with all that is ready at that moment), never again for
// a readiness that merely lasts. That fits the library's one-shot
// notifications: a kind is switched on and off in user space alone, and a
// descriptor joins the set once, at the first kind enabled, and stays until
// its watch ends, whatever it is asked for. Its errors and hang-ups, which
// epoll reports whatever was asked, come once, not for ever. An ended watch
// whose descriptor closes right after is left to the close (the kernel takes
// a file out of every epoll set when it closes; a copy held by a child
// process keeps it in, but reports only changes, which find no watch).
//
// What edge triggering leaves to the caller: a readiness that is already
// there when a kind is enabled, and that no change will report again, must be
// asked for (Set with askAgain: one epoll_ctl, after which the kernel looks
// again). The poller does so itself for a kind that the kernel reported ready
// while it was disabled.
//
// Threads: the poller belongs to the thread that made it (ForThisThread) and
// dispatches there. Set and Remove may be called from any thread (a socket
// whose registration was cancelled may be closed elsewhere); the watch table
// and the epoll set change together under one lock, and every readiness is
// looked up afresh by its key, so a watch removed meanwhile, or a descriptor
// number used again by a new socket, never reaches the wrong handler.
class SocketPoller {
public:
    // Kinds of readiness, as Qt's socket notifiers tell them apart: Read also
    // fires for a hang-up or an error (so that the reader learns of them),
    // Write for an error or a hang-up (a send then fails at once instead of
    // waiting), Urgent only for urgent data. Trouble and DataWaits are never
    // enabled. Trouble comes with the others when the kernel reported an
    // error or a hang-up. DataWaits comes with Read when the kernel reported
    // data and no end of stream, error or hang-up, and no other handler has
    // run since it looked (that handler's procedure may have read the data):
    // then a read finds data without asking the kernel again.
    enum Kind : unsigned { Read = 1, Write = 2, Urgent = 4, Trouble = 8, DataWaits = 16 };
    // What a watch tells of its readiness. The poller holds it weakly: one
    // that has gone is not told, and one that is being told is kept alive
    // until it returns.
    class Watcher {
    public:
        // Called on the poller's thread with the kinds that are ready and
        // enabled.
        virtual void Ready(unsigned kinds) = 0;

    protected:
        Watcher() = default;
        ~Watcher() = default;
        Watcher(const Watcher&) = default;
        Watcher& operator=(const Watcher&) = default;
    };

    // Dispatches what the calling thread's epoll set reports now, without
    // waiting and without a turn of the Qt event loop; returns how many
    // watches were handed a readiness (0 when the thread has no poller).
    static int DispatchThisThread();

    // The calling thread's poller, made at the first call; null with errno
    // set when the thread has no Qt event dispatcher (EINVAL) or no epoll set
    // can be made (EMFILE at the descriptor limit, for one). The thread keeps
    // it until it ends; holders elsewhere keep weak references.
    static std::shared_ptr<SocketPoller> ForThisThread();

    SocketPoller(int epollDescriptor, QSocketNotifier* notifier);
    ~SocketPoller();
    SocketPoller(const SocketPoller&) = delete;
    SocketPoller& operator=(const SocketPoller&) = delete;

    // A new watch of the descriptor with no kind enabled; returns its key.
    std::uint64_t Add(int descriptor, std::weak_ptr<Watcher> watcher);
    // Enables exactly the given kinds; false when the kernel refused.
    // askAgain: a readiness of an enabled kind may be there that the kernel
    // will not report again by itself (it was reported before and the call
    // that consumes it may have left some).
    bool Set(std::uint64_t key, unsigned kinds, bool askAgain = false);
    // Ends the watch; its handler is not called again once this returns on
    // the poller's thread. closing: the caller closes the descriptor next,
    // which takes it out of the epoll set without a call.
    void Remove(std::uint64_t key, bool closing = false);

private:
    struct Watch {
        int Descriptor = -1;
        // What handlers hear of.
        unsigned Kinds = 0;
        // Reported ready by the kernel while disabled: asked for again when
        // enabled.
        unsigned Missed = 0;
        bool InSet = false;
        std::weak_ptr<Watcher> Told;
    };

    // Takes what the epoll set reports, without waiting, and calls the
    // handlers; returns how many it called.
    int Dispatch();

    int m_epoll = -1;
    // Owned by the thread's event dispatcher (its parent), so it goes with
    // the dispatcher even when the thread ends before the poller.
    QPointer<QSocketNotifier> m_notifier;
    std::mutex m_mutex;
    std::map<std::uint64_t, Watch> m_watches;
    std::uint64_t m_nextKey = 1;
};
