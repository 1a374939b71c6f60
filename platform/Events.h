#pragma once

#include "platform/WinTypes.h"

// Event objects and the waits on them, on Qt's event loop.
//
// What is copied from Windows:
// - An event is manual-reset (stays signalled until ResetEvent) or
//   auto-reset (a wait that returns for it resets it); it starts signalled or
//   not. SetEvent and ResetEvent may be called from any thread.
// - MsgWaitForMultipleObjects returns WAIT_OBJECT_0 + i when event i is
//   signalled, WAIT_OBJECT_0 + count when input arrived for the thread,
//   WAIT_TIMEOUT when the time ran out, WAIT_FAILED for a bad handle. An
//   event that is already signalled wins at once, before any input is looked
//   at. The thread sleeps in the operating system until something happens:
//   SetEvent from another thread wakes it through the Qt event dispatcher
//   (QAbstractEventDispatcher::wakeUp), and posted window messages, socket
//   notifiers, timers and window-system input wake it the same way, under
//   glib's dispatcher and Qt's own (a Qt built without glib) alike.
//
// Where it knowingly differs:
// - "Input arrived" is learned by letting Qt dispatch it: when the wait
//   returns WAIT_OBJECT_0 + count, the events that woke it have already been
//   dispatched (window procedures, widget handlers, socket notifications ran
//   inside the wait). Callers that follow the usual pattern (on input,
//   dispatch everything pending and wait again) behave the same. A handler
//   that signals the event during such a dispatch turns the result into
//   WAIT_OBJECT_0 + i, which is what the waiting operation wants to see.
//   On the main thread a wake-up that delivered nothing (a stale wake of the
//   dispatcher) does not count as input; on other threads every wake of the
//   dispatcher does, so there a caller may now and then see input that was
//   nothing, and simply waits again.
// - Readiness of the thread's own sockets may be taken ahead of other input
//   for a short while: a wait takes readiness that is there before turning
//   the loop, every wait for 2 ms after a wait's turn of the loop (which
//   looked at everything else then) and every other wait after that. While
//   the sockets stay ready, posted messages and timers may so wait up to
//   2 ms (and what the handlers run meanwhile); a wait that sleeps always
//   sleeps in the Qt dispatcher, which any input ends at once.
// - Any non-zero wake mask means QS_ALLINPUT; a zero mask waits for the
//   events only and dispatches nothing. Only "wait for any" is supported:
//   waitAll = true fails with WAIT_FAILED.
// - Events have no names and no security attributes; those arguments are
//   ignored. HANDLE here names event objects only.
//
// Re-entrancy: anything may run inside the input part of a wait, including
// another wait (nested waits each dispatch). A handler must not close the
// handle that an outer wait is waiting on; doing so makes that wait return
// WAIT_FAILED the next time it looks.

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD QS_ALLINPUT = 0xFF;

// Returns the new event's handle (never 0 unless memory runs out).
HANDLE CreateEvent(void* securityAttributes, bool manualReset, bool initialState, const char* name);
bool SetEvent(HANDLE event);
bool ResetEvent(HANDLE event);
// Closes an event handle. A thread waiting on it returns WAIT_FAILED.
bool CloseHandle(HANDLE event);

// Waits for one event without dispatching anything; usable on any thread,
// also one without a Qt event loop.
DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds);

// Waits on up to 64 events and, with a non-zero wake mask, for input of the
// calling thread (which needs a Qt event dispatcher; without one the call
// fails with WAIT_FAILED).
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, bool waitAll,
                                DWORD milliseconds, DWORD wakeMask);

// The one owner of an event handle: creates the event, closes it when it
// goes. Movable, not copyable.
class EventObject {
public:
    explicit EventObject(bool manualReset = true, bool initialState = false);
    ~EventObject();
    EventObject(EventObject&& other) noexcept;
    EventObject& operator=(EventObject&& other) noexcept;
    EventObject(const EventObject&) = delete;
    EventObject& operator=(const EventObject&) = delete;

    HANDLE Handle() const { return m_handle; }
    void Set() const { SetEvent(m_handle); }
    void Reset() const { ResetEvent(m_handle); }
    // True when signalled now; does not reset an auto-reset event.
    bool IsSet() const;

private:
    HANDLE m_handle = 0;
};
