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
    StopTimer(window, timerId);
    UINT period = std::clamp(elapse, kMinimumTimerPeriod, kMaximumTimerPeriod);
    int qtId = startTimer(static_cast<int>(period));
    if (qtId == 0)
        return false;
    m_timers[qtId] = Timer { window, timerId, timerProc };
    return true;
}

bool MessageQueue::StopTimer(HWND window, UINT_PTR timerId) {
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->second.Window == window && it->second.Id == timerId) {
            killTimer(it->first);
            m_timers.erase(it);
            return true;
        }
    }
    return false;
}

void MessageQueue::StopTimers(HWND window) {
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->second.Window == window) {
            killTimer(it->first);
            it = m_timers.erase(it);
        } else {
            ++it;
        }
    }
}

void MessageQueue::Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC procedure = WindowRegistry::Instance().ProcedureForThisThread(window);
    if (procedure)
        CallGuarded([&] { procedure(window, message, wParam, lParam); });
}

bool MessageQueue::event(QEvent* event) {
    if (event->type() != WindowMessageEvent::Type())
        return QObject::event(event);
    auto* message = static_cast<WindowMessageEvent*>(event);
    ++m_deliveryDepth;
    if (message->Task) {
        if (WindowRegistry::Instance().Exists(message->Window))
            CallGuarded(message->Task);
    } else {
        Deliver(message->Window, message->Message, message->WParam, message->LParam);
    }
    EndDelivery();
    return true;
}

void MessageQueue::timerEvent(QTimerEvent* event) {
    auto found = m_timers.find(event->timerId());
    if (found == m_timers.end())
        return;
    Timer timer = found->second;
    ++m_deliveryDepth;
    if (timer.Proc) {
        if (WindowRegistry::Instance().Exists(timer.Window)) {
            auto tick = static_cast<DWORD>(QDeadlineTimer::current().deadline());
            CallGuarded([&] { timer.Proc(timer.Window, WM_TIMER, timer.Id, tick); });
        }
    } else {
        Deliver(timer.Window, WM_TIMER, timer.Id, 0);
    }
    EndDelivery();
}
