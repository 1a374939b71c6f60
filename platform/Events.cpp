#include "platform/Events.h"

#include "platform/EventRegistry.h"
#include "platform/SocketPoller.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <array>
#include <chrono>
#include <optional>
#include <utility>

namespace {

constexpr DWORD kMaximumObjects = 64;

using Clock = std::chrono::steady_clock;

std::optional<Clock::time_point> DeadlineAfter(DWORD milliseconds) {
    if (milliseconds == INFINITE)
        return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

// The events of one wait, in order. Nearly every wait is on one event: a
// few are kept in place, and only longer lists take memory.
class EventStates {
public:
    void Add(std::shared_ptr<EventState> state) {
        if (m_count < kInPlace)
            m_inPlace[m_count] = std::move(state);
        else
            m_more.push_back(std::move(state));
        ++m_count;
    }
    size_t Count() const { return m_count; }
    EventState& operator[](size_t i) const {
        return i < kInPlace ? *m_inPlace[i] : *m_more[i - kInPlace];
    }

private:
    static constexpr size_t kInPlace = 2;
    std::array<std::shared_ptr<EventState>, kInPlace> m_inPlace;
    std::vector<std::shared_ptr<EventState>> m_more;
    size_t m_count = 0;
};

// The events of one wait, and the waiter that SetEvent pokes for them. The
// waiter is registered with the events only once the wait is about to sleep
// (most waits find what they wait for without sleeping) and stays so until
// the wait ends; while it is registered, SetEvent may reach the waiter's
// dispatcher, which is alive because its thread is inside the wait.
class WaitRegistration {
public:
    WaitRegistration(const EventStates& states, EventWaiter& waiter)
        : m_states(states), m_waiter(waiter) {}
    ~WaitRegistration() {
        if (!m_registered)
            return;
        for (size_t i = 0; i < m_states.Count(); ++i) {
            std::lock_guard lock(m_states[i].Mutex);
            std::erase(m_states[i].Waiters, &m_waiter);
        }
    }
    WaitRegistration(const WaitRegistration&) = delete;
    WaitRegistration& operator=(const WaitRegistration&) = delete;

    // WAIT_OBJECT_0 + i for the first signalled event (resetting an
    // auto-reset one), WAIT_FAILED when one was closed, nothing otherwise.
    std::optional<DWORD> TakeSignalled() {
        for (size_t i = 0; i < m_states.Count(); ++i) {
            std::lock_guard lock(m_states[i].Mutex);
            if (auto result = TakeLocked(i))
                return result;
        }
        return std::nullopt;
    }

    // TakeSignalled, registering the waiter first when it is not yet: each
    // event is looked at under the same lock that registers the waiter with
    // it, so no SetEvent can fall between the look and the registration.
    std::optional<DWORD> RegisterAndTakeSignalled() {
        if (std::exchange(m_registered, true))
            return TakeSignalled();
        std::optional<DWORD> result;
        for (size_t i = 0; i < m_states.Count(); ++i) {
            std::lock_guard lock(m_states[i].Mutex);
            m_states[i].Waiters.push_back(&m_waiter);
            if (!result)
                result = TakeLocked(i);
        }
        return result;
    }

private:
    std::optional<DWORD> TakeLocked(size_t i) {
        EventState& state = m_states[i];
        if (state.Closed)
            return WAIT_FAILED;
        if (!state.Signalled)
            return std::nullopt;
        if (!state.ManualReset)
            state.Signalled = false;
        return WAIT_OBJECT_0 + static_cast<DWORD>(i);
    }

    const EventStates& m_states;
    EventWaiter& m_waiter;
    bool m_registered = false;
};

// False when a handle is not a live event.
bool FindAll(DWORD count, const HANDLE* handles, EventStates& states) {
    if (count > kMaximumObjects || (count > 0 && !handles))
        return false;
    for (DWORD i = 0; i < count; ++i) {
        auto state = EventRegistry::Instance().Find(handles[i]);
        if (!state)
            return false;
        states.Add(std::move(state));
    }
    return true;
}

DWORD WaitWithoutInput(WaitRegistration& registration, EventWaiter& waiter,
                       std::optional<Clock::time_point> deadline) {
    for (;;) {
        if (auto result = registration.RegisterAndTakeSignalled())
            return *result;
        std::unique_lock lock(waiter.Mutex);
        if (!deadline) {
            waiter.Poked.wait(lock, [&] { return waiter.WasPoked; });
        } else if (!waiter.Poked.wait_until(lock, *deadline, [&] { return waiter.WasPoked; })) {
            lock.unlock();
            return registration.TakeSignalled().value_or(WAIT_TIMEOUT);
        }
        waiter.WasPoked = false;
    }
}

// Counts the events Qt delivers on the main thread while waits run, so that
// a wake-up with nothing behind it (a stale wake of the dispatcher, the
// wait's own time limit) is not taken for input. Application event filters
// see only the main thread's events; elsewhere every wake counts as input.
//
// One counter, a child of the application and one of its event filters from
// the first wait on, serves every wait of the main thread, nested ones
// included: a wait costs no object and no filter of its own, and outside
// waits the counter counts nothing. It sees what the filters installed after
// it let through; the program installs no other application filter.
class InputCounter : public QObject {
public:
    // One wait's count; inactive off the main thread.
    class Watch {
    public:
        explicit Watch(const QObject* ownTimer) : m_ownTimer(ownTimer) {
            auto* application = QCoreApplication::instance();
            if (!application || application->thread() != QThread::currentThread())
                return;
            static QPointer<InputCounter> counter;
            if (!counter) {
                counter = new InputCounter(application);
                application->installEventFilter(counter);
            }
            m_counter = counter.data();
            m_counter->m_watches.push_back(this);
        }
        ~Watch() {
            if (m_counter)
                std::erase(m_counter->m_watches, this);
        }
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

        bool Active() const { return m_counter != nullptr; }
        // Whether input was delivered since the last call.
        bool TakeInput() { return std::exchange(m_events, 0) > 0; }

    private:
        friend class InputCounter;
        InputCounter* m_counter = nullptr;
        const QObject* m_ownTimer = nullptr;
        int m_events = 0;
    };

protected:
    bool eventFilter(QObject* receiver, QEvent*) override {
        for (Watch* watch : m_watches) {
            if (receiver != watch->m_ownTimer)
                ++watch->m_events;
        }
        return false;
    }

private:
    explicit InputCounter(QObject* application) : QObject(application) {}

    // The running waits, outermost first.
    std::vector<Watch*> m_watches;
};

// Whether the next wait of this thread may take socket readiness without a
// turn of the Qt event loop (below). Every turn of a wait allows it again.
thread_local bool t_mayTakeReadiness = true;
// When a wait of this thread last came back from a turn of the loop.
thread_local Clock::time_point t_loopLooked;
// For how long after a turn the loop counts as having looked lately.
constexpr std::chrono::milliseconds kLookedLately { 2 };

// Sleeps in the thread's Qt dispatcher, which wakes for posted messages,
// window-system input, timers, socket notifiers and SetEvent. Whatever woke
// it has been dispatched when the turn returns.
//
// First, though, a wait looks at its thread's sockets itself: what a wait
// needs is often there already (a connection to a local peer has completed
// by the time connect returns, a local server has answered by the time the
// request is sent), and a turn of the loop costs a poll of every descriptor
// the dispatcher watches and the dispatcher's own bookkeeping. Every wait
// does so for kLookedLately after a wait's turn of the loop, which looked at
// everything else only just now, and after that only every other wait, so
// that timers, posted messages and other input still get a turn on a busy
// connection.
DWORD WaitWithInput(WaitRegistration& registration, EventWaiter& waiter, DWORD count,
                    std::optional<Clock::time_point> deadline) {
    if (t_mayTakeReadiness || Clock::now() - t_loopLooked < kLookedLately) {
        if (auto result = registration.TakeSignalled())
            return *result;
        t_mayTakeReadiness = false;
        const int handled = SocketPoller::DispatchThisThread();
        if (auto result = registration.TakeSignalled())
            return *result;
        // What was handled is input, as a socket notifier's would be.
        if (handled > 0)
            return WAIT_OBJECT_0 + count;
    }
    if (auto result = registration.RegisterAndTakeSignalled())
        return *result;
    bool timeUp = false;
    std::optional<QTimer> timer;
    if (deadline) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        if (left.count() <= 0)
            return WAIT_TIMEOUT;
        timer.emplace();
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(&*timer, &QTimer::timeout, [&timeUp] { timeUp = true; });
        timer->start(left);
    }
    InputCounter::Watch input(timer ? &*timer : nullptr);
    for (;;) {
        waiter.Dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        // Qt's own dispatcher (the one without glib) sends posted events
        // only at the start of a turn, before it sleeps: an event posted from
        // another thread ends the sleep but waits for the next turn, which
        // would send it and then sleep with no wake-up left to end that
        // sleep. Sent here, it is dispatched in the turn it woke; under glib
        // nothing is left, and this is one look.
        QCoreApplication::sendPostedEvents();
        const Clock::time_point now = Clock::now();
        t_loopLooked = now;
        t_mayTakeReadiness = true;
        if (auto result = registration.TakeSignalled())
            return *result;
        if (timeUp || (deadline && now >= *deadline))
            return WAIT_TIMEOUT;
        // A poke whose event was reset again before we looked is not input.
        if (input.Active() ? input.TakeInput() : !waiter.TakePoke())
            return WAIT_OBJECT_0 + count;
    }
}

} // namespace

HANDLE CreateEvent(void*, bool manualReset, bool initialState, const char*) {
    return EventRegistry::Instance().Add(manualReset, initialState);
}

bool SetEvent(HANDLE event) {
    auto state = EventRegistry::Instance().Find(event);
    if (!state)
        return false;
    std::lock_guard lock(state->Mutex);
    state->Signalled = true;
    for (EventWaiter* waiter : state->Waiters)
        waiter->Poke();
    return true;
}

bool ResetEvent(HANDLE event) {
    auto state = EventRegistry::Instance().Find(event);
    if (!state)
        return false;
    std::lock_guard lock(state->Mutex);
    state->Signalled = false;
    return true;
}

bool CloseHandle(HANDLE event) {
    return EventRegistry::Instance().Close(event);
}

DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds) {
    return MsgWaitForMultipleObjects(1, &event, false, milliseconds, 0);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, bool waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
    EventStates states;
    if (!FindAll(count, handles, states) || waitAll ||
        (count == 0 && wakeMask == 0 && milliseconds == INFINITE))
        return WAIT_FAILED;
    EventWaiter waiter;
    if (wakeMask != 0) {
        waiter.Dispatcher = QThread::currentThread()->eventDispatcher();
        if (!waiter.Dispatcher)
            return WAIT_FAILED;
    }
    WaitRegistration registration(states, waiter);
    auto deadline = DeadlineAfter(milliseconds);
    if (wakeMask == 0)
        return WaitWithoutInput(registration, waiter, deadline);
    return WaitWithInput(registration, waiter, count, deadline);
}

EventObject::EventObject(bool manualReset, bool initialState)
    : m_handle(CreateEvent(nullptr, manualReset, initialState, nullptr)) {}

EventObject::~EventObject() {
    if (m_handle)
        CloseHandle(m_handle);
}

EventObject::EventObject(EventObject&& other) noexcept
    : m_handle(std::exchange(other.m_handle, 0)) {}

EventObject& EventObject::operator=(EventObject&& other) noexcept {
    if (this != &other) {
        if (m_handle)
            CloseHandle(m_handle);
        m_handle = std::exchange(other.m_handle, 0);
    }
    return *this;
}

bool EventObject::IsSet() const {
    auto state = EventRegistry::Instance().Find(m_handle);
    if (!state)
        return false;
    std::lock_guard lock(state->Mutex);
    return state->Signalled;
}
