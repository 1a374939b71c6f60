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

std::uint32_t EpollEvents(unsigned kinds) {
    std::uint32_t events = 0;
    // With the end of stream told apart from data.
    if (kinds & SocketPoller::Read)
        events |= EPOLLIN | EPOLLRDHUP;
    if (kinds & SocketPoller::Write)
        events |= EPOLLOUT;
    if (kinds & SocketPoller::Urgent)
        events |= EPOLLPRI;
    return events;
}

// The enabled kinds that the reported events make ready, with Trouble when
// the kernel reported an error or a hang-up.
unsigned ReadyKinds(std::uint32_t events, unsigned enabled) {
    unsigned ready = 0;
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
        ready |= SocketPoller::Read;
    if (events & (EPOLLOUT | EPOLLHUP | EPOLLERR))
        ready |= SocketPoller::Write;
    if (events & EPOLLPRI)
        ready |= SocketPoller::Urgent;
    ready &= enabled;
    if (ready != 0 && (events & (EPOLLHUP | EPOLLERR)))
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
    m_watches.emplace(key, Watch { descriptor, 0, 0, std::move(watcher) });
    return key;
}

bool SocketPoller::Set(std::uint64_t key, unsigned kinds) {
    std::lock_guard lock(m_mutex);
    auto found = m_watches.find(key);
    if (found == m_watches.end())
        return false;
    Watch& watch = found->second;
    watch.Kinds = kinds;
    const bool onlyDisables = (kinds & ~watch.Applied) == 0;
    if (onlyDisables && kinds != watch.Applied && std::this_thread::get_id() == m_thread &&
        m_handlersRunning > 0) {
        m_deferred.push_back(key);
        return true;
    }
    return Apply(key, watch);
}

bool SocketPoller::Apply(std::uint64_t key, Watch& watch) {
    if (watch.Applied == watch.Kinds)
        return true;
    epoll_event event {};
    event.events = EpollEvents(watch.Kinds);
    event.data.u64 = key;
    int operation = EPOLL_CTL_MOD;
    if (watch.Kinds == 0)
        operation = EPOLL_CTL_DEL;
    else if (watch.Applied == 0)
        operation = EPOLL_CTL_ADD;
    if (::epoll_ctl(m_epoll, operation, watch.Descriptor, &event) != 0)
        return false;
    watch.Applied = watch.Kinds;
    return true;
}

void SocketPoller::ApplyDeferredChanges() {
    if (m_deferred.empty())
        return;
    std::lock_guard lock(m_mutex);
    for (std::uint64_t key : m_deferred) {
        auto found = m_watches.find(key);
        if (found != m_watches.end())
            Apply(key, found->second);
    }
    m_deferred.clear();
}

void SocketPoller::Remove(std::uint64_t key, bool closing) {
    std::lock_guard lock(m_mutex);
    auto found = m_watches.find(key);
    if (found == m_watches.end())
        return;
    if (found->second.Applied != 0 && !closing)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, found->second.Descriptor, nullptr);
    m_watches.erase(found);
}

int SocketPoller::DispatchThisThread() {
    return t_poller ? t_poller->Dispatch() : 0;
}

int SocketPoller::Dispatch() {
    // A wait inside a handler may bring us here before that handler has
    // returned: what it disabled must not be reported again meanwhile.
    ApplyDeferredChanges();
    std::array<epoll_event, kEventsPerDispatch> events {};
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
            ready = ReadyKinds(events[i].events, found->second.Kinds);
            if (ready != 0)
                watcher = found->second.Told.lock();
        }
        if (!watcher)
            continue;
        if (handled > 0)
            ready &= ~DataWaits;
        ++handled;
        ++m_handlersRunning;
        watcher->Ready(ready);
        --m_handlersRunning;
        ApplyDeferredChanges();
    }
    return handled;
}
