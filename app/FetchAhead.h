#pragma once

#include "app/AheadWorker.h"
#include "platform/Events.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

// Fetches the numbers of a download run ahead of it, on worker threads
// (TAheadWorker), and hands their results over strictly in order.
//
// The run works on one number at a time, its current one. Up to Parallel
// numbers are in flight at once, and up to Window numbers from the current
// one on are in flight or waiting with their results: a number is started
// only when a worker is free and the one Window places before it is done,
// never past the run's last number, and, while the stop flag is set, none
// beyond the current one. A result waits here until the run takes
// it; one that a cancel ended is fetched again should the run still need
// it. Results of numbers the run has passed or given up are dropped, and
// with them any picture fetched ahead (an unnamed file, gone when closed).
//
// Memory: at most Window pages are held, in flight or waiting; each is
// bounded by the page bound of its job (see the run).
//
// Threads: everything here is for the thread that made the object.
class TFetchAhead {
public:
    explicit TFetchAhead(int parallel);
    ~TFetchAhead();
    TFetchAhead(const TFetchAhead&) = delete;
    TFetchAhead& operator=(const TFetchAhead&) = delete;

    int Parallel() const { return static_cast<int>(m_workers.size()); }
    // How many numbers from the current one on may be started or waiting
    // with their results: twice the transfers, so that the workers go on
    // while the run shows and logs the numbers before theirs.
    int Window() const { return 2 * Parallel(); }

    // A run over `count` numbers from `from` on begins; `makeJob` makes the
    // job of a number. Whatever the last run left is dropped.
    void Begin(int32_t from, uint64_t count, std::function<TAheadJob(int32_t)> makeJob);
    // Starts what may be started now (see above).
    void Fill(bool stopFlag);
    // The current number's result, once it is in; the thread's events are
    // dispatched meanwhile. Null when CancelAll was called during the wait.
    std::shared_ptr<TAheadResult> Take();
    // The run is done with its current number and goes on to the next.
    void Next();
    // Ends every job at once (a stop, a close, the run's end).
    void CancelAll();

    // Numbers started and not yet taken by the run.
    int InFlight() const;
    // The bytes of the pictures on their way now, and the sum of their
    // announced sizes (-1 when one of them announced none); 0 and -1 when
    // none is on its way.
    void PictureBytes(int64_t& received, int64_t& announced) const;
    // Set while the stop flag is: then nothing beyond the current number is
    // started, also when Take starts again what a cancel ended.
    void SetStopping(bool stopping) { m_stopping = stopping; }

private:
    void Deliver(uint64_t run, uint64_t offset, std::shared_ptr<TAheadResult> result);
    // False when every worker is busy.
    bool StartOffset(uint64_t offset);

    // Which run and offset each worker works on, for its result.
    std::vector<uint64_t> m_runOf;
    std::vector<uint64_t> m_workingOn;
    std::function<TAheadJob(int32_t)> m_makeJob;
    int32_t m_from { 0 };
    uint64_t m_count { 0 };
    // Bumped by Begin, so that a result of an earlier run is dropped.
    uint64_t m_run { 0 };
    // Offset of the run's current number from `from`.
    uint64_t m_current { 0 };
    // Offsets in flight (started, no result yet) and with results.
    std::set<uint64_t> m_started;
    std::map<uint64_t, std::shared_ptr<TAheadResult>> m_results;
    uint64_t m_cancels { 0 };
    // Set at each result, for the wait in Take.
    EventObject m_arrived { false, false };
    bool m_stopping { false };
    // Last, so that the workers end first: their results come here.
    std::vector<std::unique_ptr<TAheadWorker>> m_workers;
};
