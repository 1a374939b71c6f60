#pragma once

#include "net/HiddenWindow.h"
#include "net/TComponent.h"
#include "platform/WinTypes.h"

#include <cstdint>

// A periodic timer on the thread that creates it, driven by a window timer
// (number 1) of its own hidden window of class "TmrWindowClass". It is not a
// thread: ticks are window messages and OnTimer runs only while that thread
// dispatches messages (its event loop or a wait). The window timer runs
// exactly while Enabled is true, Interval is not 0 and OnTimer is assigned.
//
// An exception raised by OnTimer goes to the application's central exception
// handler (HandleComponentException); the timer keeps working.
class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* owner);
    ~TThreadTimer() override;

    bool Enabled() const { return m_enabled; }
    // Changing the value restarts or stops the window timer; setting the
    // current value changes nothing.
    void SetEnabled(bool enabled) {
        if (enabled != m_enabled)
            ChangeEnabled(enabled);
    }

    // Period in milliseconds; 0 stops the window timer.
    uint32_t Interval() const { return m_interval; }
    void SetInterval(uint32_t interval);

    const TNotifyEvent& OnTimer() const { return m_onTimer; }
    // Always restarts the window timer (or stops it for an empty handler).
    void SetOnTimer(TNotifyEvent onTimer);

    HWND WindowHandle() const { return m_window.Handle(); }

protected:
    // Called by the timer window on each tick.
    virtual void FireTimer();

private:
    void ChangeEnabled(bool enabled);
    // Kills the window timer and starts it again when it should run; raises
    // "No Timer" when the platform cannot make one.
    void UpdateTimer();
    static LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    uint32_t m_interval { 1000 };
    THiddenWindow m_window;
    TNotifyEvent m_onTimer;
    bool m_enabled { true };
    // The window timer was started and not killed since: a timer that is
    // not running needs no kill before it starts, nor to stop.
    bool m_running { false };
};
