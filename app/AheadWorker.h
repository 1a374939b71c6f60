#pragma once

#include "app/FetchTries.h"

#include <QThread>

#include <atomic>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

class QObject;
class TAtomicFileStream;

// What the download run needs of one number fetched ahead of it.
struct TAheadResult {
    int32_t Number { 0 };
    // A cancel ended it: nothing else in it counts.
    bool Ended { false };
    // The page did not come through at its one try ahead (see
    // TAheadWorker): the run fetches it itself when it reaches the number.
    bool Redo { false };
    // The page, when not Redo.
    std::string Body;
    // The picture that the page's first marker line names, fetched when its
    // file was missing: the address and the complete picture on disk, not
    // yet in place. An empty address: none was fetched ahead (the run
    // fetches it itself should it need it).
    std::string PictureUrl;
    std::unique_ptr<TAtomicFileStream> Picture;
};

// What a worker is asked to fetch.
struct TAheadJob {
    int32_t Number { 0 };
    std::string PageAddress;
    // The number's picture file.
    std::string PictureFile;
    // The page only: the run is to stop after the page's first line, so
    // its picture may never be wanted.
    bool PageOnly { false };
    TPageSettings Page;
    // Bounds of the picture download ahead (TImageFetcher's).
    uint32_t ConnectTimeOut { 0 };
    uint32_t LowSpeedLimit { 0 };
    uint32_t LowSpeedTime { 0 };
    uint64_t MaxPictureSize { 0 };
};

// One thread that fetches a number's page, and then the picture its first
// marker line names, each tried once, with a page component and a picture
// fetcher of its own, made on that thread (every wait of theirs dispatches that thread's
// events only). A job runs to its end, or until Cancel, and its result is
// handed to `deliver` on the thread that made the worker, through that
// thread's event queue.
//
// Threads: Start, Cancel and the destructor are for the thread that made
// the worker, which must run a Qt event loop or dispatching waits for the
// results to arrive. A job is started only while none runs (Busy false).
class TAheadWorker {
public:
    using TDeliver = std::function<void(std::shared_ptr<TAheadResult>)>;

    explicit TAheadWorker(TDeliver deliver);
    // Cancels the job in progress, ends the thread and waits for it.
    ~TAheadWorker();
    TAheadWorker(const TAheadWorker&) = delete;
    TAheadWorker& operator=(const TAheadWorker&) = delete;

    void Start(TAheadJob job);
    // Ends the job in progress at once, transfers included; its result,
    // Ended, still arrives.
    void Cancel();
    // From Start until its result has been delivered.
    bool Busy() const { return m_busy; }
    // The bytes of the picture on its way now, and the size its server
    // announced (-1: none, or no picture on its way); any thread.
    int64_t PictureReceived() const { return m_pictureReceived; }
    int64_t PictureAnnounced() const { return m_pictureAnnounced; }

private:
    class TThreadSide;

    TDeliver m_deliver;
    QThread m_thread;
    // Lives on the worker thread: jobs and cancels are posted to it.
    std::unique_ptr<QObject> m_context;
    // Lives on this thread: results are posted to it, and dropped with it.
    std::unique_ptr<QObject> m_home;
    // On the worker thread only: frees its objects and ends its loop.
    void EndThread();

    // Made and destroyed on the worker thread, as are the two flags: a job
    // runs, and the thread is to end once it has.
    std::unique_ptr<TThreadSide> m_side;
    bool m_running { false };
    bool m_endAfterJob { false };
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_busy { false };
    std::atomic<int64_t> m_pictureReceived { 0 };
    std::atomic<int64_t> m_pictureAnnounced { -1 };
};
