#include "app/Unit1.h"

#include "app/ExtractImageUrl.h"
#include "app/FetchTries.h"
#include "app/ImageFetcher.h"
#include "app/PictureDirectory.h"
#include "app/ProxySetting.h"
#include "app/Unit2.h"
#include "platform/Events.h"
#include "platform/Kernel.h"
#include "platform/UrlService.h"
#include "toolkit/runtime/ScopeExit.h"
#include "toolkit/runtime/SysUtils.h"
#include "toolkit/runtime/TAtomicFileStream.h"
#include "toolkit/runtime/TStringList.h"
#include "toolkit/widgets/LoadPictureFile.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"
#include "toolkit/widgets/TMemo.h"
#include "toolkit/widgets/TSpinEdit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <unistd.h>

const char* const DefaultSiteAddress = WALLPAPER_SITE;

namespace {

// A silent server ends the run with the component's time-out error instead
// of holding it for ever.
constexpr int32_t PageTimeOut = 30000;
// A server that drips a page (a byte now and then, never silent for the
// time-out) ends the run too.
constexpr int32_t PageMinRateBytes = 1024;
constexpr int32_t PageMinRatePeriod = 30000;
// A page is held whole in memory, twice (as Body and as its lines).
constexpr int64_t MaxPageSize = int64_t { 64 } * 1024 * 1024;
// What the numbers fetched ahead may hold at most: their pages in memory,
// their pictures on disk (until the run puts them in place).
constexpr int64_t MaxPagesAhead = int64_t { 128 } * 1024 * 1024;
constexpr uint64_t MaxPicturesAhead = uint64_t { 256 } * 1024 * 1024;
// How often the bytes of the pictures fetched ahead are shown.
constexpr int TransfersShownEvery = 200;
// Each marker line of a page logs its number once more; a page of millions
// of them would flood the log, so the lines beyond these are read as any.
constexpr int MaxMarkerLinesPerPage = 100;

// The run counts in 32-bit two's complement, so that stepping past the
// largest number wraps instead of overflowing.
uint32_t Bits(int32_t value) {
    return static_cast<uint32_t>(value);
}
int32_t Wrapped(uint32_t value) {
    return static_cast<int32_t>(value);
}

std::string PageAddress(const std::string& site, int32_t number) {
    return site + "/wallpapers/get/id/" + std::to_string(number) + "/resolution/1024x768";
}

} // namespace

void TForm1::SetUpKvHTTP1() {
    KvHTTP1.Body = "Default.htm";
    KvHTTP1.Header = "Head.txt";
    KvHTTP1.InputFileMode = false;
    KvHTTP1.OutputFileMode = false;
    KvHTTP1.ProxyPort = 8080;
    KvHTTP1.Port = 0;
    KvHTTP1.ReportLevel = 0;
    // The proxy the environment names, as for the pictures. main sets it
    // again once the site from the command line is known.
    UsePageProxy(KvHTTP1, SiteAddress);
    KvHTTP1.TimeOut = PageTimeOut;
    KvHTTP1.MaxBodySize = MaxPageSize;
    KvHTTP1.MinRateBytes = PageMinRateBytes;
    KvHTTP1.MinRatePeriod = PageMinRatePeriod;
}

// The run processes pending window events at the start of each number,
// before each page line and after a marker line is found, and the page and
// picture fetches process them while they wait; that is where the stop button, a
// double-click on the picture and a close of the window take effect. The
// download button is disabled meanwhile, so runs never nest.
void TForm1::Button2Click() {
    if (m_running)
        return;
    const int32_t from = SpinEdit1->Value();
    const int32_t to = SpinEdit2->Value();
    if (to < from)
        return;

    m_running = true;
    Button2->setEnabled(false);
    ScopeExit idle([this] {
        // Every logged number is on disk when the run is over.
        if (m_logWriter) {
            try {
                m_logWriter->Drain();
            } catch (...) {
                Application->HandleException(std::current_exception());
            }
            m_logWriter.reset();
        }
        // Whatever was fetched ahead goes with the run, pictures included.
        m_transfersShown.reset();
        m_aheadResult.reset();
        m_ahead.reset();
        m_running = false;
        Button2->setEnabled(true);
    });

    int32_t remaining = Wrapped(Bits(to) - Bits(from) + 1U);
    m_progress->Start(int64_t { to } - from + 1);
    CurrentNumber = from;
    if (Parallel > 1)
        BeginFetchAhead(from, static_cast<uint64_t>(int64_t { to } - from + 1));
    TStringList lines;
    for (;;) {
        Application->ProcessMessages();
        if (m_closed)
            return;
        const std::string address = PageAddress(SiteAddress, CurrentNumber);
        Edit1->setText(QString::fromLatin1(address.data(), static_cast<qsizetype>(address.size())));
        if (!FetchPage(address))
            return;
        SplitPageLines(PageBody(), lines);

        int markerLines = 0;
        for (int i = 0; i < lines.Count(); ++i) {
            Application->ProcessMessages();
            if (m_closed)
                return;
            if (markerLines < MaxMarkerLinesPerPage && HasImageMarker(lines[i])) {
                ++markerLines;
                Application->ProcessMessages();
                if (m_closed)
                    return;
                if (!TakePicture(lines[i]))
                    return;
            }
            if (StopFlag == 1)
                break;
        }
        if (StopFlag == 1)
            return;

        m_progress->NumberDone();
        if (m_ahead) {
            m_aheadResult.reset();
            m_ahead->Next();
            m_ahead->Fill(StopFlag == 1);
            m_progress->InFlight(m_ahead->InFlight());
        }
        CurrentNumber = Wrapped(Bits(CurrentNumber) + 1U);
        remaining = Wrapped(Bits(remaining) - 1U);
        if (remaining == 0)
            return;
    }
}

// A run that is to stop anyway, or a failure that persists, goes on as
// without retries: the error ends the run, and a page with an error status
// is read like any other (it names no picture).
bool TForm1::FetchWithRetries(const std::function<TFetchTry()>& fetch) {
    return ::FetchWithRetries(
        fetch, RetryWaits, [] { return StopFlag == 1; },
        [this](int32_t milliseconds) { return WaitBeforeRetry(milliseconds); });
}

bool TForm1::FetchPage(const std::string& address) {
    if (m_ahead) {
        m_aheadResult = m_ahead->Take();
        m_progress->InFlight(m_ahead->InFlight());
        if (!m_aheadResult)
            return false;
        if (!m_aheadResult->Redo)
            return true;
        // Not come through ahead: the run meets what it meets for itself.
        m_aheadResult.reset();
    }
    return FetchWithRetries([this, &address] { return TryOwnPage(address); });
}

TFetchTry TForm1::TryOwnPage(const std::string& address) {
    m_pageFetchAborted = false;
    m_fetchingPage = true;
    ScopeExit fetched([this] { m_fetchingPage = false; });
    return TryPage(KvHTTP1, address, m_pageFetchAborted);
}

const std::string& TForm1::PageBody() const {
    return m_aheadResult ? m_aheadResult->Body : KvHTTP1.Body;
}

void TForm1::BeginFetchAhead(int32_t from, uint64_t count) {
    m_ahead = std::make_unique<TFetchAhead>(Parallel);
    m_ahead->Begin(from, count, [this](int32_t number) {
        TAheadJob job;
        job.Number = number;
        job.PageAddress = PageAddress(SiteAddress, number);
        job.PictureFile = PictureFileName(number);
        job.PageOnly = StopFlag == 1;
        job.Page = TPageSettings::Of(KvHTTP1);
        // What is held ahead stays within a total; a page or picture beyond
        // its share is fetched again by the run itself, with its own bounds.
        const int64_t pageShare = MaxPagesAhead / m_ahead->Window();
        if (job.Page.MaxBodySize < 0 || job.Page.MaxBodySize > pageShare)
            job.Page.MaxBodySize = pageShare;
        job.ConnectTimeOut = ImageFetcher1.ConnectTimeOut;
        job.LowSpeedLimit = ImageFetcher1.LowSpeedLimit;
        job.LowSpeedTime = ImageFetcher1.LowSpeedTime;
        job.MaxPictureSize =
            std::min<uint64_t>(ImageFetcher1.MaxPictureSize,
                               MaxPicturesAhead / static_cast<uint64_t>(m_ahead->Window()));
        return job;
    });
    m_ahead->SetStopping(StopFlag == 1);
    m_ahead->Fill(StopFlag == 1);
    m_log.MakeAppendable(*Memo1);
    m_logWriter = std::make_unique<TLogWriter>(m_log);
    // The status line's bytes are those of every picture on its way.
    m_transfersShown = std::make_unique<QTimer>();
    m_transfersShown->setInterval(TransfersShownEvery);
    QObject::connect(m_transfersShown.get(), &QTimer::timeout, this, [this] {
        int64_t received = 0;
        int64_t announced = -1;
        m_ahead->PictureBytes(received, announced);
        if (received == 0 && announced < 0)
            m_progress->PictureEnded();
        else
            m_progress->PictureBytes(received, announced);
    });
    m_transfersShown->start();
    m_progress->InFlight(m_ahead->InFlight());
}

bool TForm1::WaitBeforeRetry(int32_t milliseconds) {
    m_progress->Waiting(milliseconds);
    ScopeExit waited([this] { m_progress->WaitEnded(); });
    // A press of the stop button or a close ends the wait at once.
    return DispatchingWait(milliseconds, [this] { return StopFlag == 1 || m_closed; });
}

void TForm1::AbortPageFetch() {
    if (!m_fetchingPage)
        return;
    m_pageFetchAborted = true;
    KvHTTP1.Abort();
}

bool TForm1::TakePicture(const std::string& line) {
    const std::string fileName = PictureFileName(CurrentNumber);
    // A file that is already there is never fetched again, nor examined.
    bool fetchedNow = false;
    bool syncFolder = false;
    if (!FileExists(fileName)) {
        ForcePictureDirectory(ExtractFilePath(fileName));
        const std::string url = ExtractImageUrl(line);
        if (m_aheadResult && !m_aheadResult->PictureUrl.empty() &&
            m_aheadResult->PictureUrl == url) {
            // Fetched ahead: it becomes the number's file only now.
            m_aheadResult->PictureUrl.clear();
            const std::unique_ptr<TAtomicFileStream> picture = std::move(m_aheadResult->Picture);
            // Its content is on disk already; its name is made durable by
            // the log writer before the number is logged on disk.
            TImageFetcher::PutInPlace(*picture, !m_logWriter);
            syncFolder = m_logWriter != nullptr;
        } else if (!FetchPicture(url, fileName)) {
            return false;
        }
        fetchedNow = true;
    }
    try {
        // A picture just fetched counts only when it decodes completely: a
        // transfer cut short or damaged data must not be kept and logged as
        // done, as it would then never be fetched again.
        if (fetchedNow)
            LoadWholePictureFile(*Image1, fileName);
        else
            LoadPictureFile(*Image1, fileName);
        // The viewer shows the same picture, decoded and held once.
        if (Form2)
            Form2->Image1->SetGraphic(Image1->SharedGraphic(), Image1->FileName());
    } catch (...) {
        // Left on disk, a bad picture would stop every later run at this
        // number without being fetched anew. One that was there before the
        // run is the user's and stays.
        if (fetchedNow)
            ::unlink(fileName.c_str());
        throw;
    }
    const std::string piece = Memo1->AddLine(std::to_string(CurrentNumber));
    if (m_logWriter)
        m_logWriter->Append(piece, syncFolder ? ExtractFilePath(fileName) : std::string());
    else
        m_log.Append(*Memo1, piece);
    m_progress->PictureTaken(fetchedNow);
    return true;
}

// The fetch dispatches the window's events while it waits, so the stop
// button and a close reach it there; like a stop during a page fetch, that
// ends the run quietly.
bool TForm1::FetchPicture(const std::string& url, const std::string& fileName) {
    ScopeExit shown([this] { m_progress->PictureEnded(); });
    std::unique_ptr<TAtomicFileStream> picture;
    if (!FetchWithRetries([this, &url, &fileName, &picture] {
            return TryPicture(ImageFetcher1, url, fileName, picture);
        }))
        return false;
    TImageFetcher::PutInPlace(*picture);
    return true;
}

std::string TForm1::PictureFileName(int32_t number) const {
    const std::string directory =
        PictureDirectory.empty() ? DefaultPictureDirectory(GetModuleDirectory()) : PictureDirectory;
    return directory + std::to_string(number) + ".jpg";
}
