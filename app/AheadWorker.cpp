#include "app/AheadWorker.h"

#include "app/ExtractImageUrl.h"
#include "app/ImageFetcher.h"
#include "net/KvHttp.h"
#include "platform/Events.h"
#include "toolkit/runtime/ScopeExit.h"
#include "toolkit/runtime/SysUtils.h"
#include "toolkit/runtime/TAtomicFileStream.h"
#include "toolkit/runtime/TStringList.h"

#include <QObject>

#include <sys/stat.h>

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.empty() ? "." : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

// The worker thread's own objects; made by its first job, on that thread.
class TAheadWorker::TThreadSide {
public:
    TKvHTTP Http;
    TImageFetcher Fetcher;
    // Set by Abort: the page fetch's error is then an end, not a failure.
    bool PageAborted { false };
    bool InPage { false };
    // The cancel flag of the job in progress.
    std::shared_ptr<std::atomic<bool>> Cancel;

    void Abort() {
        if (InPage) {
            PageAborted = true;
            Http.Abort();
        }
        Fetcher.Abort();
    }

    void Run(const TAheadJob& job, TAheadResult& result);

private:
    // One try of a fetch; false when a cancel ended it. A failure is
    // raised; `again` is set when the try came to something passing (a
    // transient error, or a status that asks to come back later).
    bool Tried(const std::function<TFetchTry()>& fetch, bool& again);
    bool FetchPage(const TAheadJob& job, TAheadResult& result);
    bool FetchPicture(const TAheadJob& job, TAheadResult& result);
};

void TAheadWorker::TThreadSide::Run(const TAheadJob& job, TAheadResult& result) {
    job.Page.ApplyTo(Http);
    Fetcher.ConnectTimeOut = job.ConnectTimeOut;
    Fetcher.LowSpeedLimit = job.LowSpeedLimit;
    Fetcher.LowSpeedTime = job.LowSpeedTime;
    Fetcher.MaxPictureSize = job.MaxPictureSize;
    result.Ended = !FetchPage(job, result) || *Cancel;
    if (result.Ended || result.Redo || job.PageOnly)
        return;
    result.Ended = !FetchPicture(job, result) || *Cancel;
}

bool TAheadWorker::TThreadSide::Tried(const std::function<TFetchTry()>& fetch, bool& again) {
    const TFetchTry outcome = fetch();
    again = outcome.Result == TFetchTry::TResult::Transient;
    return outcome.Result != TFetchTry::TResult::Ended;
}

// Ahead, a fetch is tried once. Whatever does not come through at once (a
// failure, a refusal of the moment such as 429 or 503, perhaps because the
// server limits how many requests it takes at a time) is left for the run
// to fetch itself, with its tries and waits, when it gets to the number:
// the run then meets exactly what it would have met fetching one number at
// a time.
bool TAheadWorker::TThreadSide::FetchPage(const TAheadJob& job, TAheadResult& result) {
    PageAborted = false;
    InPage = true;
    ScopeExit pageEnded([this] { InPage = false; });
    bool again = false;
    try {
        if (!Tried([&] { return TryPage(Http, job.PageAddress, PageAborted); }, again))
            return false;
        if (again)
            result.Redo = true;
        else
            result.Body = std::move(Http.Body);
    } catch (...) {
        result.Redo = true;
    }
    return true;
}

// Only the first marker line of a page can download a picture: every later
// one finds its file present. A missing picture folder is left for the run
// to make when it gets there.
bool TAheadWorker::TThreadSide::FetchPicture(const TAheadJob& job, TAheadResult& result) {
    TStringList lines;
    SplitPageLines(result.Body, lines);
    int marker = 0;
    while (marker < lines.Count() && !HasImageMarker(lines[marker]))
        ++marker;
    if (marker == lines.Count() || !IsFolder(ExtractFilePath(job.PictureFile)) ||
        FileExists(job.PictureFile))
        return true;
    const std::string url = ExtractImageUrl(lines[marker]);
    bool again = false;
    try {
        if (!Tried([&] { return TryPicture(Fetcher, url, job.PictureFile, result.Picture); },
                   again))
            return false;
        if (!again)
            result.PictureUrl = url;
    } catch (...) {
        result.Picture.reset();
    }
    return true;
}

TAheadWorker::TAheadWorker(TDeliver deliver)
    : m_deliver(std::move(deliver)), m_context(std::make_unique<QObject>()),
      m_home(std::make_unique<QObject>()) {
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

TAheadWorker::~TAheadWorker() {
    Cancel();
    // The thread's objects go on their own thread, before its loop ends,
    // and not inside a wait of the job in progress, which dispatches this.
    QMetaObject::invokeMethod(
        m_context.get(),
        [this] {
            if (m_running) {
                m_endAfterJob = true;
                return;
            }
            EndThread();
        },
        Qt::QueuedConnection);
    m_thread.wait();
    m_context.reset();
}

void TAheadWorker::Start(TAheadJob job) {
    m_busy = true;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        m_context.get(),
        [this, job = std::move(job), cancel = m_cancel] {
            if (!m_side) {
                m_side = std::make_unique<TThreadSide>();
                m_side->Fetcher.OnProgress = [this](int64_t received, int64_t announced) {
                    m_pictureReceived = received;
                    m_pictureAnnounced = announced;
                };
            }
            m_side->Cancel = cancel;
            auto result = std::make_shared<TAheadResult>();
            result->Number = job.Number;
            m_running = true;
            m_side->Run(job, *result);
            m_running = false;
            m_side->Cancel = nullptr;
            m_pictureReceived = 0;
            m_pictureAnnounced = -1;
            QMetaObject::invokeMethod(
                m_home.get(),
                [this, result] {
                    m_busy = false;
                    m_deliver(result);
                },
                Qt::QueuedConnection);
            if (m_endAfterJob)
                EndThread();
        },
        Qt::QueuedConnection);
}

void TAheadWorker::EndThread() {
    m_side.reset();
    QThread::currentThread()->quit();
}

void TAheadWorker::Cancel() {
    if (!m_busy || !m_cancel || *m_cancel)
        return;
    *m_cancel = true;
    QMetaObject::invokeMethod(
        m_context.get(),
        [this, cancel = m_cancel] {
            if (m_side && m_side->Cancel == cancel)
                m_side->Abort();
        },
        Qt::QueuedConnection);
}
