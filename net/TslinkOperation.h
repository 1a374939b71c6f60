#pragma once

#include "net/Tslink.h"

#include <cstdint>

// One operation of the socket component that may wait, from its start to its
// end: Connect's wait, the host lookup, the TLS handshake, the sends, ReadLn,
// the captures, Accept, and the HTTP component's response waits. It owns the
// operation's time limits, so that no operation starts, arms or stops one by
// hand:
// - the component's time limit (TimeOut milliseconds, none for 0), with its
//   "Timer On" and "Timer Off" reports; starting it clears TimedOut;
// - optionally one extra limit over the whole operation, a timer whose own
//   handler ends it (the HTTP component's limit on a whole response head,
//   its minimum rate over a response), without reports.
//
// A deferred limit is started but not armed: arming costs a window timer's
// start and stop on the thread's queue, and a limit that is started and
// stopped again with nothing run in between can end nothing. It is armed
// before the operation's first wait, before anything that runs someone
// else's code or dispatches messages (Wait, Dispatch, BeforeHandlers, and
// every status report that goes to a handler), so that it bounds all of
// that as if it had been armed at its start.
//
// Operations nest: the HTTP component reads each line of a head in an
// operation of its own inside the one that bounds the whole head. Arming
// arms the deferred limits of the enclosing operations as well.
//
// The destructor stops the limits (reporting "Timer Off" as any stop of the
// time limit does), also when the operation fails; Finish does the same and
// then turns a cancel into the operation's abort error.
class TTessalink::TOperation {
public:
    // How the component's time limit runs over the operation.
    enum class TLimit : uint8_t {
        None,      // not at all: the operation holds only an extra limit
        Armed,     // started and armed at once: the operation waits for sure
        Deferred,  // started at once, armed by the first wait or handler
        Restarted, // started and armed by the first Restart only, stopped
                   // at the end only if it is still running
    };

    TOperation(TTessalink& link, TLimit limit);
    // Reports the operation's step first.
    TOperation(TTessalink& link, TLimit limit, StatusLevel level, const char* step);
    ~TOperation();
    TOperation(const TOperation&) = delete;
    TOperation& operator=(const TOperation&) = delete;

    // Adds the extra limit of interval milliseconds, armed at once or
    // deferred like the time limit; the operation stops it at its end.
    void AddLimit(TThreadTimer& limit, uint32_t interval, bool deferred);
    // The operation moved on: the time limit starts again from here, armed
    // at once or deferred as it started (Restarted: armed at once).
    void Restart();
    // WaitForEvent, with every deferred limit armed first.
    void Wait();
    // DispatchPendingMessages, with every deferred limit armed first.
    void Dispatch();
    // Arms every deferred limit before the operation runs code that may
    // call a handler or dispatch messages.
    void BeforeHandlers();
    // Stops the limits now; the destructor then does nothing more.
    void Stop();
    // Stop, then, when a Cancel, Abort or time limit ended the operation,
    // clears Canceled and raises EAbortError with abortText.
    void Finish(const char* abortText);
    // What ended a canceled operation: its time limit (TimedOut) or a Cancel
    // or Abort (Canceled).
    TSockFailure AbortKind() const;

private:
    friend class TTessalink;

    // Starts the time limit without arming it.
    void StartLimit();
    void Arm();

    TTessalink& m_link;
    // The operation this one runs inside, if any.
    TOperation* m_outer { nullptr };
    TLimit m_limit { TLimit::None };
    // The time limit is started and waits for Arm.
    bool m_timerDeferred { false };
    TThreadTimer* m_extra { nullptr };
    bool m_extraDeferred { false };
    bool m_stopped { false };
};
