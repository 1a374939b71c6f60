#pragma once

#include "platform/Windows.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

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
    // Records the handle, procedure and slots of a window counted by
    // AcquireForWindow (the window registry keeps the slots while the window
    // lives).
    void AdoptWindow(HWND window, WNDPROC procedure, std::atomic<LONG_PTR>* windowSlots,
                     size_t slotCount);
    // Counts one window less (window: its handle, or 0 when none was adopted).
    void ReleaseWindow(HWND window);
    // Whether the window is one of this queue's, alive. The queue's thread
    // only: it answers without the window registry's lock.
    bool HasWindow(HWND window) const { return ProcedureOf(window) != nullptr; }
    // The procedure of one of this queue's windows, null for any other
    // window. The queue's thread only, without the registry's lock.
    WNDPROC ProcedureOf(HWND window) const;
    // The slot at a byte index of one of this queue's windows, null for any
    // other window or a bad index. The queue's thread only.
    std::atomic<LONG_PTR>* SlotOf(HWND window, int index) const;

    // Messages posted to this queue and not delivered yet, counted so that a
    // notification delivered without posting (NotificationBatch) never
    // overtakes one. Any thread.
    void CountPosted() { ++m_posted; }
    bool HasPostedMessages() const { return m_posted.load() > 0; }
    // Runs a window task now, on this queue's thread, as the delivery of a
    // posted one does: only while the window exists, and a procedure's
    // exception stops here. May delete the queue (its last window gone).
    void RunTask(HWND window, const std::function<void()>& task);
    // Delivers a message now, as the delivery of a posted one does.
    void SendNow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Window timers of this thread. Start replaces a running timer with the
    // same window and number.
    //
    // They share one Qt timer, armed for the earliest tick. Components start
    // a timer for every operation and stop it after (a time limit), so most
    // timers never tick: starting one only notes its tick, and stopping one
    // only forgets it, unless the shared timer has to tick earlier. A tick
    // that finds nothing due arms the shared timer again for the next one.
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

    using Clock = std::chrono::steady_clock;
    // A window timer; a stopped one keeps its place for the next start (a
    // component restarts the same timer for every operation).
    struct Timer {
        HWND Window = 0;
        UINT_PTR Id = 0;
        bool Running = false;
        TIMERPROC Proc = nullptr;
        Clock::duration Period {};
        Clock::time_point Due;
        // Tells a run of the timer from a later start of the same one.
        std::uint64_t Start = 0;
    };

    Timer* FindTimer(HWND window, UINT_PTR timerId);
    // Arms the shared Qt timer for the earliest tick, or ends it when no
    // timer runs; false when Qt has no timer to give.
    bool ArmFor(Clock::time_point now);

    struct Adopted {
        HWND Window = 0;
        WNDPROC Procedure = nullptr;
        std::atomic<LONG_PTR>* Slots = nullptr;
        size_t SlotCount = 0;
    };
    const Adopted* Find(HWND window) const;

    int m_windows = 0;
    std::vector<Adopted> m_adopted;
    int m_deliveryDepth = 0;
    std::atomic<int> m_posted { 0 };
    std::vector<Timer> m_timers;
    std::uint64_t m_starts = 0;
    int m_sharedTimer = 0; // Qt timer id, 0 when not armed
    Clock::time_point m_armedFor;
};

// The slot at a byte index of a window's extra bytes (one pointer-sized slot
// per 4 bytes), null for a bad index; the queue and the window registry both
// look slots up so.
std::atomic<LONG_PTR>* WindowSlotAt(std::atomic<LONG_PTR>* windowSlots, size_t count, int index);
