#pragma once

#include <QPointer>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QSocketNotifier;

// The readiness watch of every registered socket of one thread: one epoll set,
// which the thread's Qt event dispatcher watches through a single socket
// notifier made once for the life of the thread.
//
// Why not a socket notifier per socket and kind: the library switches a
// socket's kinds on and off at nearly every notification, a client renews its
// socket after every connection, and each notifier that Qt's dispatcher adds
// or removes wakes the dispatcher (a write to its wake-up descriptor). A
// small page fetch cost fourteen such wake-ups. Here switching a kind is one
// epoll_ctl, which wakes nobody, and the dispatcher's set of descriptors
// never changes.
//
// A watch with no kind enabled is taken out of the epoll set, because epoll
// reports errors and hang-ups of every descriptor in it whatever it was asked
// for, and level-triggered, so they would repeat for ever. An ended watch is
// taken out too, except when its descriptor closes right after and no child
// process can hold it: the close of a file takes it out of every epoll set,
// but a child that inherited the descriptor keeps the file open, and its
// readiness would keep waking this thread until the child lets it go.
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
    // Enables exactly the given kinds; false when the kernel refused. On the
    // poller's thread, while a handler runs, a change that only disables
    // kinds reaches the kernel when the handler returns: a handler that
    // reports a readiness disables its kind, and the procedure that hears the
    // report, called within the handler, mostly consumes it and enables the
    // kind again, so both changes cancel out. Until then the kernel may
    // report the disabled kind once more, which is not passed on.
    bool Set(std::uint64_t key, unsigned kinds);
    // Ends the watch; its handler is not called again once this returns on
    // the poller's thread. closing: the caller closes the descriptor next and
    // no other process holds it, so the close takes it out of the epoll set
    // and no call is needed.
    void Remove(std::uint64_t key, bool closing = false);

private:
    struct Watch {
        int Descriptor = -1;
        // Enabled: what handlers hear of. Applied: what the epoll set asks
        // the kernel for (a superset while a disabling change waits).
        unsigned Kinds = 0;
        unsigned Applied = 0;
        std::weak_ptr<Watcher> Told;
    };

    // Takes what the epoll set reports, without waiting, and calls the
    // handlers; returns how many it called.
    int Dispatch();
    // Brings the epoll set in line with the enabled kinds; with the lock.
    bool Apply(std::uint64_t key, Watch& watch);
    // Applies the changes that waited for a handler to return; the poller's
    // thread, without the lock.
    void ApplyDeferredChanges();

    int m_epoll = -1;
    std::thread::id m_thread = std::this_thread::get_id();
    // Owned by the thread's event dispatcher (its parent), so it goes with
    // the dispatcher even when the thread ends before the poller.
    QPointer<QSocketNotifier> m_notifier;
    std::mutex m_mutex;
    std::map<std::uint64_t, Watch> m_watches;
    std::uint64_t m_nextKey = 1;
    // Watches whose disabling waits for the running handler. The poller's
    // thread only: changed with the lock, read without it there.
    std::vector<std::uint64_t> m_deferred;
    // Handlers of this poller running on its thread (nested waits nest them).
    int m_handlersRunning = 0;
};
