// The socket component's time limits: the operation scope that starts, arms
// and stops them, and the component's own timer calls. Nothing else arms a
// limit.
#include "net/TslinkOperation.h"

#include "net/ERangeError.h"

#include <utility>

namespace {

// What every start of the time limit does before arming it: TimedOut is
// cleared and a running limit stopped; a negative TimeOut is refused.
void ResetTimer(TTessalink& link) {
    link.ReportStatus(StatusLevel::Detail, "Timer On");
    link.TimedOut = false;
    link.Timer->SetEnabled(false);
    if (link.TimeOut < 0)
        throw ERangeError();
}

void ArmTimer(TTessalink& link) {
    link.Timer->SetInterval(static_cast<uint32_t>(link.TimeOut));
    link.Timer->SetEnabled(true);
}

} // namespace

TTessalink::TOperation::TOperation(TTessalink& link, TLimit limit)
    : TOperation(link, limit, StatusLevel::Detail, nullptr) {}

TTessalink::TOperation::TOperation(TTessalink& link, TLimit limit, StatusLevel level,
                                   const char* step)
    : m_link(link), m_outer(link.m_operation), m_limit(limit) {
    if (step != nullptr)
        link.ReportStatus(level, step);
    // A refused start leaves nothing to stop: the operation is not under way.
    if (limit == TLimit::Armed || limit == TLimit::Deferred)
        StartLimit();
    link.m_operation = this;
    if (limit == TLimit::Armed)
        Arm();
}

TTessalink::TOperation::~TOperation() {
    Stop();
}

void TTessalink::TOperation::StartLimit() {
    // A limit still waiting to be armed is armed by the report, so that a
    // handler that takes its time is bounded by it too.
    ResetTimer(m_link);
    m_timerDeferred = true;
}

void TTessalink::TOperation::AddLimit(TThreadTimer& limit, uint32_t interval, bool deferred) {
    limit.SetEnabled(false);
    limit.SetInterval(interval);
    m_extra = &limit;
    m_extraDeferred = deferred;
    if (!deferred)
        limit.SetEnabled(true);
}

void TTessalink::TOperation::Restart() {
    if (m_limit == TLimit::None)
        return;
    StartLimit();
    if (m_limit != TLimit::Deferred)
        Arm();
}

void TTessalink::TOperation::Arm() {
    // The extra limits first: one armed in the same turn as the time limit,
    // with the same interval, runs out first.
    for (TOperation* operation = this; operation != nullptr; operation = operation->m_outer)
        if (std::exchange(operation->m_extraDeferred, false))
            operation->m_extra->SetEnabled(true);
    for (TOperation* operation = this; operation != nullptr; operation = operation->m_outer)
        if (std::exchange(operation->m_timerDeferred, false))
            ArmTimer(m_link);
}

void TTessalink::TOperation::Wait() {
    Arm();
    m_link.WaitForEvent();
}

void TTessalink::TOperation::Dispatch() {
    Arm();
    DispatchPendingMessages();
}

void TTessalink::TOperation::BeforeHandlers() {
    Arm();
}

void TTessalink::TOperation::Stop() {
    if (std::exchange(m_stopped, true))
        return;
    // The report of the stop may go to a handler, which the limit still
    // bounds: the operation stays the innermost one until it is over.
    if (m_limit == TLimit::Armed || m_limit == TLimit::Deferred ||
        (m_limit == TLimit::Restarted && m_link.Timer->Enabled()))
        m_link.StopTimer();
    if (m_extra != nullptr) {
        m_extraDeferred = false;
        m_extra->SetEnabled(false);
    }
    m_link.m_operation = m_outer;
}

void TTessalink::TOperation::Finish(const char* abortText) {
    Stop();
    if (!m_link.Canceled)
        return;
    m_link.Canceled = false;
    throw EAbortError(AbortKind(), abortText);
}

TSockFailure TTessalink::TOperation::AbortKind() const {
    return m_link.TimedOut ? TSockFailure::TimedOut : TSockFailure::Canceled;
}

void TTessalink::StartTimer() {
    ResetTimer(*this);
    for (TOperation* operation = m_operation; operation != nullptr; operation = operation->m_outer)
        operation->m_timerDeferred = false;
    ArmTimer(*this);
}

void TTessalink::StopTimer() {
    ReportStatus(StatusLevel::Detail, "Timer Off");
    for (TOperation* operation = m_operation; operation != nullptr; operation = operation->m_outer)
        operation->m_timerDeferred = false;
    Timer->SetEnabled(false);
}

void TTessalink::TimerTriggered(TComponent*) {
    ReportStatus(StatusLevel::Detail, "Timer Triggered");
    StopTimer();
    TimedOut = true;
    WaitEvent->Set();
    Abort();
}
