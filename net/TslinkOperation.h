#pragma once

#include "net/ERangeError.h"
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
// arms the deferred limits of the enclosing operations as well. Only
// operations without the time limit (TLimit::None) have others inside.
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

    // Runs take, which only looks into what is already buffered, in place
    // of a deferred operation that it may make needless; true when take
    // found all it needed. That is tried only while the operation's reports
    // (all of StatusLevel::Detail) pass nobody and nothing canceled it:
    // such an operation, started and stopped again with nothing run in
    // between, leaves behind only TimedOut cleared and the limit stopped,
    // which is all this does besides take. Otherwise false, and the caller
    // makes the operation.
    template <typename Take> static bool TakeQuietly(TTessalink& link, Take&& take);

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

    // What every start of the time limit does before arming it: TimedOut is
    // cleared and a running limit stopped; a negative TimeOut is refused.
    static void ResetTimer(TTessalink& link);
    // Every stop of the time limit: the report, then no deferred start left
    // in the innermost operation (the only one that can hold the time
    // limit: operations that hold it never nest), and no window timer.
    static void StopTimer(TTessalink& link, TOperation* innermost);
    // Starts the time limit without arming it.
    void StartLimit();
    // Makes the operation the innermost one.
    void Enter();
    void Arm();
    [[noreturn]] void RaiseAbort(const char* abortText) const;

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

// The steps every operation takes, ReadLn once per line of a response head,
// are inline; arming and waiting are not.

template <typename Take> bool TTessalink::TOperation::TakeQuietly(TTessalink& link, Take&& take) {
    if (link.ReportLevel >= static_cast<int32_t>(StatusLevel::Detail) || link.Canceled ||
        link.TimeOut < 0)
        return false;
    link.TimedOut = false;
    link.Timer->SetEnabled(false);
    return take();
}

inline TTessalink::TOperation::TOperation(TTessalink& link, TLimit limit)
    : TOperation(link, limit, StatusLevel::Detail, nullptr) {}

inline TTessalink::TOperation::TOperation(TTessalink& link, TLimit limit, StatusLevel level,
                                          const char* step)
    : m_link(link), m_outer(link.m_operation), m_limit(limit) {
    if (step != nullptr)
        link.ReportStatus(level, step);
    // A refused start leaves nothing to stop: the operation is not under way.
    if (limit == TLimit::Armed || limit == TLimit::Deferred)
        StartLimit();
    Enter();
    if (limit == TLimit::Armed)
        Arm();
}

inline TTessalink::TOperation::~TOperation() {
    Stop();
}

inline void TTessalink::TOperation::ResetTimer(TTessalink& link) {
    link.ReportStatus(StatusLevel::Detail, "Timer On");
    link.TimedOut = false;
    link.Timer->SetEnabled(false);
    if (link.TimeOut < 0)
        throw ERangeError();
}

inline void TTessalink::TOperation::StopTimer(TTessalink& link, TOperation* innermost) {
    link.ReportStatus(StatusLevel::Detail, "Timer Off");
    if (innermost != nullptr)
        innermost->m_timerDeferred = false;
    link.Timer->SetEnabled(false);
}

inline void TTessalink::TOperation::StartLimit() {
    // A limit still waiting to be armed is armed by the report, so that a
    // handler that takes its time is bounded by it too.
    ResetTimer(m_link);
    m_timerDeferred = true;
}

inline void TTessalink::TOperation::Stop() {
    if (m_stopped)
        return;
    m_stopped = true;
    // The report of the stop may go to a handler, which the limit still
    // bounds: the operation stays the innermost one until it is over.
    if (m_limit == TLimit::Armed || m_limit == TLimit::Deferred ||
        (m_limit == TLimit::Restarted && m_link.Timer->Enabled()))
        StopTimer(m_link, this);
    if (m_extra != nullptr) {
        m_extraDeferred = false;
        m_extra->SetEnabled(false);
    }
    m_link.m_operation = m_outer;
}

inline void TTessalink::TOperation::Finish(const char* abortText) {
    Stop();
    if (m_link.Canceled)
        RaiseAbort(abortText);
}
