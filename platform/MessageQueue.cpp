#include "platform/MessageQueue.h"

#include "platform/WindowMessageEvent.h"

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

void MessageQueue::AdoptWindow(HWND window, WNDPROC procedure, std::atomic<LONG_PTR>* windowSlots,
                               size_t slotCount) {
    m_adopted.push_back({ window, procedure, windowSlots, slotCount });
}

void MessageQueue::ReleaseWindow(HWND window) {
    std::erase_if(m_adopted, [window](const Adopted& adopted) { return adopted.Window == window; });
    --m_windows;
    DeleteIfUnused();
}

const MessageQueue::Adopted* MessageQueue::Find(HWND window) const {
    for (const Adopted& adopted : m_adopted) {
        if (adopted.Window == window)
            return &adopted;
    }
    return nullptr;
}

WNDPROC MessageQueue::ProcedureOf(HWND window) const {
    const Adopted* adopted = Find(window);
    return adopted ? adopted->Procedure : nullptr;
}

std::atomic<LONG_PTR>* MessageQueue::SlotOf(HWND window, int index) const {
    const Adopted* adopted = Find(window);
    return adopted ? WindowSlotAt(adopted->Slots, adopted->SlotCount, index) : nullptr;
}

std::atomic<LONG_PTR>* WindowSlotAt(std::atomic<LONG_PTR>* windowSlots, size_t count, int index) {
    if (index < 0 || index % 4 != 0 || static_cast<size_t>(index / 4) >= count)
        return nullptr;
    return &windowSlots[static_cast<size_t>(index / 4)];
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

MessageQueue::Timer* MessageQueue::FindTimer(HWND window, UINT_PTR timerId) {
    for (Timer& timer : m_timers) {
        if (timer.Window == window && timer.Id == timerId)
            return &timer;
    }
    return nullptr;
}

bool MessageQueue::StartTimer(HWND window, UINT_PTR timerId, UINT elapse, TIMERPROC timerProc) {
    const UINT period = std::clamp(elapse, kMinimumTimerPeriod, kMaximumTimerPeriod);
    const Clock::time_point now = Clock::now();
    Timer* timer = FindTimer(window, timerId);
    if (!timer) {
        timer = &m_timers.emplace_back();
        timer->Window = window;
        timer->Id = timerId;
    }
    timer->Running = true;
    timer->Proc = timerProc;
    timer->Period = std::chrono::milliseconds(period);
    timer->Due = now + timer->Period;
    timer->Start = ++m_starts;
    if (m_sharedTimer != 0 && m_armedFor <= timer->Due)
        return true;
    if (ArmFor(now))
        return true;
    timer->Running = false;
    return false;
}

bool MessageQueue::StopTimer(HWND window, UINT_PTR timerId) {
    Timer* timer = FindTimer(window, timerId);
    if (!timer || !timer->Running)
        return false;
    timer->Running = false;
    return true;
}

void MessageQueue::StopTimers(HWND window) {
    std::erase_if(m_timers, [window](const Timer& timer) { return timer.Window == window; });
}

bool MessageQueue::ArmFor(Clock::time_point now) {
    if (m_sharedTimer != 0)
        killTimer(m_sharedTimer);
    m_sharedTimer = 0;
    const Timer* earliest = nullptr;
    for (const Timer& timer : m_timers) {
        if (timer.Running && (!earliest || timer.Due < earliest->Due))
            earliest = &timer;
    }
    if (!earliest)
        return true;
    // Never early: a precise Qt timer ticks no sooner than asked, and the
    // wait is rounded up to whole milliseconds.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(earliest->Due - now);
    m_sharedTimer = startTimer(std::max(wait, std::chrono::milliseconds(0)), Qt::PreciseTimer);
    m_armedFor = earliest->Due;
    return m_sharedTimer != 0;
}

void MessageQueue::Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC procedure = ProcedureOf(window);
    if (procedure)
        CallGuarded([&] { procedure(window, message, wParam, lParam); });
}

void MessageQueue::SendNow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ++m_deliveryDepth;
    Deliver(window, message, wParam, lParam);
    EndDelivery();
}

void MessageQueue::RunTask(HWND window, const std::function<void()>& task) {
    ++m_deliveryDepth;
    if (HasWindow(window))
        CallGuarded(task);
    EndDelivery();
}

bool MessageQueue::event(QEvent* event) {
    // A message posted from another thread reaches this one through Qt's own
    // queue, whose locking the thread sanitizer does not see. The poster
    // raised the count before posting, so reading it first orders the
    // message's fields after their writing for the sanitizer as well.
    (void)m_posted.load(std::memory_order_acquire);
    if (event->type() != WindowMessageEvent::Type())
        return QObject::event(event);
    auto* message = static_cast<WindowMessageEvent*>(event);
    --m_posted;
    if (message->Task) {
        RunTask(message->Window, message->Task);
        return true;
    }
    SendNow(message->Window, message->Message, message->WParam, message->LParam);
    return true;
}

void MessageQueue::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_sharedTimer)
        return;
    const Clock::time_point now = Clock::now();
    // The runs due now, earliest first. Each is looked up again just before
    // it ticks: a procedure may stop, restart or forget any timer.
    struct DueRun {
        Clock::time_point Due;
        HWND Window;
        UINT_PTR Id;
        std::uint64_t Start;
    };
    std::vector<DueRun> due;
    for (const Timer& timer : m_timers) {
        if (timer.Running && timer.Due <= now)
            due.push_back({ timer.Due, timer.Window, timer.Id, timer.Start });
    }
    std::sort(due.begin(), due.end(),
              [](const DueRun& a, const DueRun& b) { return a.Due < b.Due; });
    ++m_deliveryDepth;
    for (const DueRun& run : due) {
        Timer* timer = FindTimer(run.Window, run.Id);
        if (!timer || !timer->Running || timer->Start != run.Start)
            continue;
        // The next tick one period on; ticks that the thread missed while busy
        // are not made up.
        timer->Due += timer->Period;
        if (timer->Due <= now)
            timer->Due = now + timer->Period;
        if (const TIMERPROC proc = timer->Proc) {
            if (HasWindow(run.Window)) {
                auto tick = static_cast<DWORD>(QDeadlineTimer::current().deadline());
                CallGuarded([&] { proc(run.Window, WM_TIMER, run.Id, tick); });
            }
        } else {
            Deliver(run.Window, WM_TIMER, run.Id, 0);
        }
    }
    ArmFor(Clock::now());
    EndDelivery();
}
