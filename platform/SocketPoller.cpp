#include "platform/SocketPoller.h"

#include <QAbstractEventDispatcher>
#include <QEvent>
#include <QSocketNotifier>
#include <QThread>

#include <array>
#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

thread_local std::shared_ptr<SocketPoller> t_poller;

constexpr int kEventsPerDispatch = 64;

// The notifier through which the thread's event dispatcher watches the epoll
// set. It dispatches from its own event handler: a signal connection would
// add a meta-object activation, and two signal emissions, to every turn of
// the loop that finds readiness. It lives on the poller's thread, so the
// thread's poller is the one it watches for.
class ReadinessNotifier : public QSocketNotifier {
public:
    ReadinessNotifier(int epoll, QObject* parent)
        : QSocketNotifier(epoll, QSocketNotifier::Read, parent) {}

protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::SockAct)
            return QSocketNotifier::event(event);
        SocketPoller::DispatchThisThread();
        return true;
    }
};

// Everything a watch can be asked for, edge-triggered; the end of stream is
// told apart from data.
constexpr std::uint32_t kWatchedEvents = EPOLLIN | EPOLLRDHUP | EPOLLOUT | EPOLLPRI | EPOLLET;

// The kinds that the reported events make ready.
unsigned ReadyKinds(std::uint32_t events) {
    unsigned ready = 0;
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
        ready |= SocketPoller::Read;
    if (events & (EPOLLOUT | EPOLLHUP | EPOLLERR))
        ready |= SocketPoller::Write;
    if (events & EPOLLPRI)
        ready |= SocketPoller::Urgent;
    return ready;
}

// What the handler of the enabled kinds hears: the ready ones, with Trouble
// when the kernel reported an error or a hang-up, and DataWaits when it
// reported data and no end of stream.
unsigned HandlerKinds(std::uint32_t events, unsigned ready) {
    if (ready == 0)
        return 0;
    if (events & (EPOLLHUP | EPOLLERR))
        ready |= SocketPoller::Trouble;
    if ((ready & SocketPoller::Read) && (events & EPOLLIN) &&
        !(events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)))
        ready |= SocketPoller::DataWaits;
    return ready;
}

} // namespace

std::shared_ptr<SocketPoller> SocketPoller::ForThisThread() {
    if (t_poller)
        return t_poller;
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    if (!dispatcher) {
        errno = EINVAL;
        return nullptr;
    }
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0)
        return nullptr;
    t_poller = std::make_shared<SocketPoller>(epoll, new ReadinessNotifier(epoll, dispatcher));
    return t_poller;
}

SocketPoller::SocketPoller(int epollDescriptor, QSocketNotifier* notifier)
    : m_epoll(epollDescriptor), m_notifier(notifier) {}

SocketPoller::~SocketPoller() {
    // The notifier must stop watching before its descriptor is closed. The
    // thread's own poller normally goes at the end of its thread, after the
    // dispatcher took the notifier with it.
    if (m_notifier) {
        if (m_notifier->thread() == QThread::currentThread())
            delete m_notifier.data();
        else
            m_notifier->deleteLater();
    }
    ::close(m_epoll);
}

std::uint64_t SocketPoller::Add(int descriptor, std::weak_ptr<Watcher> watcher) {
    std::lock_guard lock(m_mutex);
    const std::uint64_t key = m_nextKey++;
    m_watches.emplace(key, Watch { descriptor, 0, 0, false, std::move(watcher) });
    return key;
}

bool SocketPoller::Set(std::uint64_t key, unsigned kinds, bool askAgain) {
    std::lock_guard lock(m_mutex);
    auto found = m_watches.find(key);
    if (found == m_watches.end())
        return false;
    Watch& watch = found->second;
    const unsigned enabling = kinds & ~watch.Kinds;
    watch.Kinds = kinds;
    // Disabling is for the handlers only: the kernel reports changes alone,
    // so a readiness that lasts costs nothing.
    if (kinds == 0)
        return true;
    int operation = EPOLL_CTL_ADD;
    if (watch.InSet) {
        if (!askAgain && (enabling & watch.Missed) == 0)
            return true;
        // Modified, the watch is looked at again and reported if ready.
        operation = EPOLL_CTL_MOD;
    }
    epoll_event event {};
    event.events = kWatchedEvents;
    event.data.u64 = key;
    if (::epoll_ctl(m_epoll, operation, watch.Descriptor, &event) != 0)
        return false;
    watch.InSet = true;
    watch.Missed &= ~kinds;
    return true;
}

void SocketPoller::Remove(std::uint64_t key, bool closing) {
    std::lock_guard lock(m_mutex);
    auto found = m_watches.find(key);
    if (found == m_watches.end())
        return;
    if (found->second.InSet && !closing)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, found->second.Descriptor, nullptr);
    m_watches.erase(found);
}

int SocketPoller::DispatchThisThread() {
    return t_poller ? t_poller->Dispatch() : 0;
}

int SocketPoller::Dispatch() {
    // Not cleared: epoll_wait fills what it reports, and only that is read.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init)
    std::array<epoll_event, kEventsPerDispatch> events;
    int count = 0;
    do {
        count = ::epoll_wait(m_epoll, events.data(), kEventsPerDispatch, 0);
    } while (count < 0 && errno == EINTR);
    int handled = 0;
    for (int i = 0; i < count; ++i) {
        // A handler may end or change any watch, this one included: each
        // readiness is checked against the table as it stands now.
        std::shared_ptr<Watcher> watcher;
        unsigned ready = 0;
        {
            std::lock_guard lock(m_mutex);
            auto found = m_watches.find(events[i].data.u64);
            if (found == m_watches.end())
                continue;
            Watch& watch = found->second;
            const unsigned kinds = ReadyKinds(events[i].events);
            watch.Missed |= kinds & ~watch.Kinds;
            ready = HandlerKinds(events[i].events, kinds & watch.Kinds);
            if (ready != 0)
                watcher = watch.Told.lock();
        }
        if (!watcher)
            continue;
        // An earlier handler's procedure may have read the data.
        if (handled > 0)
            ready &= ~DataWaits;
        ++handled;
        watcher->Ready(ready);
    }
    return handled;
}
