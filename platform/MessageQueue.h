#pragma once

#include "platform/Windows.h"

#include <QObject>

#include <map>

class QTimerEvent;

// The per-thread receiver of window messages and window timer ticks. It lives
// in the thread that owns the windows, exists while that thread has at least
// one window, and hands each message to the procedure of a window that still
// exists. It deletes itself when its last window goes, but never while it is
// inside a delivery (a procedure may destroy its own, and last, window).
class MessageQueue : public QObject {
public:
    // The calling thread's queue, or null when it has no window.
    static MessageQueue* Current();
    // Counts one more window of the calling thread and returns the thread's
    // queue, making it first if needed; null when the thread cannot run Qt
    // events.
    static MessageQueue* AcquireForWindow();
    // Counts one window less.
    void ReleaseWindow();

    // Window timers of this thread. Start replaces a running timer with the
    // same window and number.
    bool StartTimer(HWND window, UINT_PTR timerId, UINT elapse, TIMERPROC timerProc);
    bool StopTimer(HWND window, UINT_PTR timerId);
    void StopTimers(HWND window);

protected:
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    MessageQueue() = default;
    ~MessageQueue() override;
    void Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Ends one delivery; deletes the queue when it is no longer needed.
    void EndDelivery();
    void DeleteIfUnused();

    struct Timer {
        HWND Window = 0;
        UINT_PTR Id = 0;
        TIMERPROC Proc = nullptr;
    };

    int m_windows = 0;
    int m_deliveryDepth = 0;
    std::map<int, Timer> m_timers; // by Qt timer id
};
