// The socket component's time limits: the operation scope that starts, arms
// and stops them, and the component's own timer calls. Nothing else arms a
// limit.
#include "net/TslinkOperation.h"

#include <utility>

namespace {

void ArmTimer(TTessalink& link) {
    link.Timer->SetInterval(static_cast<uint32_t>(link.TimeOut));
    link.Timer->SetEnabled(true);
}

} // namespace

void TTessalink::TOperation::Enter() {
    // Not inline: where the compiler sees this store in a caller, it takes
    // the operation for a local that outlives its scope, not knowing that
    // Stop puts the outer one back.
    m_link.m_operation = this;
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
    bool timer = false;
    for (TOperation* operation = this; operation != nullptr; operation = operation->m_outer) {
        if (std::exchange(operation->m_extraDeferred, false))
            operation->m_extra->SetEnabled(true);
        timer = std::exchange(operation->m_timerDeferred, false) || timer;
    }
    // The time limit after the extra limits: one armed in the same turn,
    // with the same interval, runs out first.
    if (timer)
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

void TTessalink::TOperation::RaiseAbort(const char* abortText) const {
    m_link.Canceled = false;
    throw EAbortError(AbortKind(), abortText);
}

TSockFailure TTessalink::TOperation::AbortKind() const {
    return m_link.TimedOut ? TSockFailure::TimedOut : TSockFailure::Canceled;
}

void TTessalink::StartTimer() {
    TOperation::ResetTimer(*this);
    if (m_operation != nullptr)
        m_operation->m_timerDeferred = false;
    ArmTimer(*this);
}

void TTessalink::StopTimer() {
    TOperation::StopTimer(*this, m_operation);
}

void TTessalink::TimerTriggered(TComponent*) {
    ReportStatus(StatusLevel::Detail, "Timer Triggered");
    StopTimer();
    TimedOut = true;
    WaitEvent->Set();
    Abort();
}
