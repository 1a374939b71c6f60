#include "net/TThreadTimer.h"

#include "net/HiddenWindow.h"
#include "toolkit/runtime/Exception.h"

namespace {
constexpr UINT_PTR TimerNumber = 1;
}

TThreadTimer::TThreadTimer(TComponent* owner)
    : TComponent(owner), m_window(CreateHiddenWindow("TmrWindowClass", &WindowProc, this)) {}

TThreadTimer::~TThreadTimer() {
    // With Enabled false, updating the timer only kills it.
    m_enabled = false;
    KillTimer(m_window.Handle(), TimerNumber);
}

void TThreadTimer::ChangeEnabled(bool enabled) {
    m_enabled = enabled;
    UpdateTimer();
}

void TThreadTimer::SetInterval(uint32_t interval) {
    if (interval == m_interval)
        return;
    m_interval = interval;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent onTimer) {
    m_onTimer = std::move(onTimer);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
    if (m_running) {
        KillTimer(m_window.Handle(), TimerNumber);
        m_running = false;
    }
    if (m_interval != 0 && m_enabled && m_onTimer) {
        if (SetTimer(m_window.Handle(), TimerNumber, m_interval, nullptr) == 0)
            throw Exception("No Timer");
        m_running = true;
    }
}

void TThreadTimer::FireTimer() {
    if (m_onTimer)
        m_onTimer(this);
}

LRESULT TThreadTimer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TThreadTimer* timer = HiddenWindowOwner<TThreadTimer>(window);
    if (timer == nullptr || message != WM_TIMER)
        return DefWindowProc(window, message, wParam, lParam);
    try {
        timer->FireTimer();
    } catch (...) {
        HandleComponentException(std::current_exception());
    }
    return 0;
}
