#include "platform/MessageQueue.h"

#include "platform/WindowMessageEvent.h"
#include "platform/WindowRegistry.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <exception>
#include <vector>

namespace {
thread_local MessageQueue* t_queue = nullptr;

// Windows clamps timer periods the same way.
constexpr UINT kMinimumTimerPeriod = 10;
constexpr UINT kMaximumTimerPeriod = 0x7FFFFFFF;

// A procedure that throws must not unwind through Qt's event delivery.
template <typename Call> void CallGuarded(Call&& call) {
    try {
        call();
    } catch (const std::exception& error) {
        qWarning("A window procedure raised an exception: %s", error.what());
    } catch (...) {
        qWarning("A window procedure raised an exception");
    }
}
} // namespace

MessageQueue* MessageQueue::Current() {
    return t_queue;
}

MessageQueue* MessageQueue::AcquireForWindow() {
    if (!t_queue) {
        if (!QCoreApplication::instance() || !QThread::currentThread()->eventDispatcher())
            return nullptr;
        t_queue = new MessageQueue();
    }
    ++t_queue->m_windows;
    return t_queue;
}

void MessageQueue::ReleaseWindow() {
    --m_windows;
    DeleteIfUnused();
}

MessageQueue::~MessageQueue() {
    if (t_queue == this)
        t_queue = nullptr;
}

void MessageQueue::DeleteIfUnused() {
    if (m_windows == 0 && m_deliveryDepth == 0)
        delete this;
}

void MessageQueue::EndDelivery() {
    --m_deliveryDepth;
    DeleteIfUnused();
}

bool MessageQueue::StartTimer(HWND window, UINT_PTR timerId, UINT elapse, TIMERPROC timerProc) {
    const UINT period = std::clamp(elapse, kMinimumTimerPeriod, kMaximumTimerPeriod);
    const Clock::time_point now = Clock::now();
    Timer& timer = m_timers[{ window, timerId }];
    timer.Proc = timerProc;
    timer.Period = std::chrono::milliseconds(period);
    timer.Due = now + timer.Period;
    timer.Start = ++m_starts;
    if (m_sharedTimer != 0 && m_armedFor <= timer.Due)
        return true;
    if (ArmFor(now))
        return true;
    m_timers.erase({ window, timerId });
    return false;
}

bool MessageQueue::StopTimer(HWND window, UINT_PTR timerId) {
    return m_timers.erase({ window, timerId }) > 0;
}

void MessageQueue::StopTimers(HWND window) {
    std::erase_if(m_timers, [window](const auto& timer) { return timer.first.first == window; });
}

bool MessageQueue::ArmFor(Clock::time_point now) {
    if (m_sharedTimer != 0)
        killTimer(m_sharedTimer);
    m_sharedTimer = 0;
    if (m_timers.empty())
        return true;
    auto earliest = m_timers.begin();
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->second.Due < earliest->second.Due)
            earliest = it;
    }
    // Never early: a precise Qt timer ticks no sooner than asked, and the
    // wait is rounded up to whole milliseconds.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(earliest->second.Due - now);
    m_sharedTimer = startTimer(std::max(wait, std::chrono::milliseconds(0)), Qt::PreciseTimer);
    m_armedFor = earliest->second.Due;
    return m_sharedTimer != 0;
}

void MessageQueue::Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC procedure = WindowRegistry::Instance().ProcedureForThisThread(window);
    if (procedure)
        CallGuarded([&] { procedure(window, message, wParam, lParam); });
}

void MessageQueue::RunTask(HWND window, const std::function<void()>& task) {
    ++m_deliveryDepth;
    if (WindowRegistry::Instance().Exists(window))
        CallGuarded(task);
    EndDelivery();
}

bool MessageQueue::event(QEvent* event) {
    if (event->type() != WindowMessageEvent::Type())
        return QObject::event(event);
    auto* message = static_cast<WindowMessageEvent*>(event);
    --m_posted;
    if (message->Task) {
        RunTask(message->Window, message->Task);
        return true;
    }
    ++m_deliveryDepth;
    Deliver(message->Window, message->Message, message->WParam, message->LParam);
    EndDelivery();
    return true;
}

void MessageQueue::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_sharedTimer)
        return;
    const Clock::time_point now = Clock::now();
    // The timers due now, earliest first. Each is looked up again just
    // before it ticks: a procedure may stop or restart any timer.
    std::vector<std::pair<Clock::time_point, std::pair<TimerKey, std::uint64_t>>> due;
    for (const auto& [key, timer] : m_timers) {
        if (timer.Due <= now)
            due.push_back({ timer.Due, { key, timer.Start } });
    }
    std::sort(due.begin(), due.end());
    ++m_deliveryDepth;
    for (const auto& [when, which] : due) {
        auto found = m_timers.find(which.first);
        if (found == m_timers.end() || found->second.Start != which.second)
            continue;
        Timer& timer = found->second;
        // The next tick one period on; ticks that the thread missed while busy
        // are not made up.
        timer.Due += timer.Period;
        if (timer.Due <= now)
            timer.Due = now + timer.Period;
        const HWND window = which.first.first;
        const UINT_PTR id = which.first.second;
        if (timer.Proc) {
            const TIMERPROC proc = timer.Proc;
            if (WindowRegistry::Instance().Exists(window)) {
                auto tick = static_cast<DWORD>(QDeadlineTimer::current().deadline());
                CallGuarded([&] { proc(window, WM_TIMER, id, tick); });
            }
        } else {
            Deliver(window, WM_TIMER, id, 0);
        }
    }
    ArmFor(Clock::now());
    EndDelivery();
}
