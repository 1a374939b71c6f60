#include "app/FetchAhead.h"

#include <algorithm>

TFetchAhead::TFetchAhead(int parallel) {
    for (int i = 0; i < parallel; ++i) {
        const size_t index = m_workers.size();
        m_workingOn.push_back(0);
        m_runOf.push_back(0);
        m_workers.push_back(
            std::make_unique<TAheadWorker>([this, index](std::shared_ptr<TAheadResult> result) {
                Deliver(m_runOf[index], m_workingOn[index], std::move(result));
            }));
    }
}

TFetchAhead::~TFetchAhead() = default;

void TFetchAhead::Begin(int32_t from, uint64_t count, std::function<TAheadJob(int32_t)> makeJob) {
    CancelAll();
    ++m_run;
    m_started.clear();
    m_makeJob = std::move(makeJob);
    m_from = from;
    m_count = count;
    m_current = 0;
}

void TFetchAhead::Fill(bool stopFlag) {
    const uint64_t end = std::min<uint64_t>(m_count, m_current + static_cast<uint64_t>(Window()));
    for (uint64_t offset = m_current; offset < end; ++offset) {
        if (offset > m_current && stopFlag)
            return;
        if (m_started.count(offset) != 0 || m_results.count(offset) != 0)
            continue;
        if (!StartOffset(offset))
            return;
    }
}

bool TFetchAhead::StartOffset(uint64_t offset) {
    for (size_t i = 0; i < m_workers.size(); ++i) {
        if (m_workers[i]->Busy())
            continue;
        m_workingOn[i] = offset;
        m_runOf[i] = m_run;
        m_started.insert(offset);
        // Numbers count in 32-bit two's complement, as the run's do.
        const auto number =
            static_cast<int32_t>(static_cast<uint32_t>(m_from) + static_cast<uint32_t>(offset));
        TAheadJob job = m_makeJob(number);
        m_workers[i]->Start(std::move(job));
        return true;
    }
    return false;
}

std::shared_ptr<TAheadResult> TFetchAhead::Take() {
    const uint64_t cancels = m_cancels;
    for (;;) {
        if (m_cancels != cancels)
            return nullptr;
        const auto found = m_results.find(m_current);
        if (found != m_results.end()) {
            std::shared_ptr<TAheadResult> result = std::move(found->second);
            m_results.erase(found);
            return result;
        }
        // A job a cancel ended is started again, the current one first.
        Fill(m_stopping);
        const HANDLE arrived = m_arrived.Handle();
        MsgWaitForMultipleObjects(1, &arrived, false, INFINITE, QS_ALLINPUT);
    }
}

void TFetchAhead::Next() {
    m_results.erase(m_current);
    ++m_current;
}

void TFetchAhead::CancelAll() {
    ++m_cancels;
    for (const auto& worker : m_workers)
        worker->Cancel();
    m_results.clear();
}

void TFetchAhead::PictureBytes(int64_t& received, int64_t& announced) const {
    received = 0;
    announced = 0;
    bool any = false;
    for (const auto& worker : m_workers) {
        const int64_t size = worker->PictureAnnounced();
        const int64_t bytes = worker->PictureReceived();
        if (bytes == 0 && size < 0)
            continue;
        any = true;
        received += bytes;
        announced = size < 0 || announced < 0 ? -1 : announced + size;
    }
    if (!any)
        announced = -1;
}

int TFetchAhead::InFlight() const {
    return static_cast<int>(m_started.size() + m_results.size());
}

void TFetchAhead::Deliver(uint64_t run, uint64_t offset, std::shared_ptr<TAheadResult> result) {
    if (run != m_run)
        return;
    m_started.erase(offset);
    // A result the run passed, or one a cancel ended, counts for nothing: the
    // run fetches an ended one again should it still need it.
    if (offset >= m_current && !result->Ended)
        m_results[offset] = std::move(result);
    m_arrived.Set();
}
