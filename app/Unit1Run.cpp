#include "app/Unit1.h"

#include "app/ExtractImageUrl.h"
#include "app/ImageFetcher.h"
#include "app/PictureDirectory.h"
#include "app/Unit2.h"
#include "platform/Events.h"
#include "platform/Kernel.h"
#include "platform/UrlService.h"
#include "toolkit/runtime/ScopeExit.h"
#include "toolkit/runtime/SysUtils.h"
#include "toolkit/runtime/TStringList.h"
#include "toolkit/widgets/LoadPictureFile.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"
#include "toolkit/widgets/TMemo.h"
#include "toolkit/widgets/TSpinEdit.h"

#include <QLineEdit>
#include <QPushButton>

#include <chrono>
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
    KvHTTP1.Proxy.clear();
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
        m_running = false;
        Button2->setEnabled(true);
    });

    int32_t remaining = Wrapped(Bits(to) - Bits(from) + 1U);
    m_progress->Start(int64_t { to } - from + 1);
    CurrentNumber = from;
    TStringList lines;
    for (;;) {
        Application->ProcessMessages();
        if (m_closed)
            return;
        const std::string address = PageAddress(SiteAddress, CurrentNumber);
        Edit1->setText(QString::fromLatin1(address.data(), static_cast<qsizetype>(address.size())));
        if (!FetchPage(address))
            return;
        SplitPageLines(KvHTTP1.Body, lines);

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
    for (int attempt = 1;; ++attempt) {
        const TFetchTry outcome = fetch();
        if (outcome.Result != TFetchTry::TResult::Transient)
            return outcome.Result == TFetchTry::TResult::Done;
        if (attempt == MaxAttempts || StopFlag == 1) {
            if (outcome.Failure)
                std::rethrow_exception(outcome.Failure);
            return true;
        }
        if (!WaitBeforeRetry(RetryWait(attempt, RetryWaits, outcome.RetryAfterSeconds)))
            return false;
    }
}

bool TForm1::FetchPage(const std::string& address) {
    return FetchWithRetries([this, &address] {
        try {
            if (!GetPage(address))
                return TFetchTry::Ended();
        } catch (const std::exception& error) {
            if (!IsTransientPageError(error.what(), KvHTTP1.TimedOut))
                throw;
            return TFetchTry::Transient(std::current_exception(), std::nullopt);
        }
        if (!IsTransientStatus(KvHTTP1.ReplyCode))
            return TFetchTry {};
        return TFetchTry::Transient(nullptr, RetryAfterSeconds(KvHTTP1.Header));
    });
}

bool TForm1::GetPage(const std::string& address) {
    m_pageFetchAborted = false;
    m_fetchingPage = true;
    ScopeExit fetched([this] { m_fetchingPage = false; });
    try {
        KvHTTP1.Get(address);
    } catch (...) {
        // Whatever error the abort made the component raise, it is the
        // user's stop, not a failure to report.
        if (m_pageFetchAborted)
            return false;
        throw;
    }
    return true;
}

bool TForm1::WaitBeforeRetry(int32_t milliseconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    m_progress->Waiting(milliseconds);
    ScopeExit waited([this] { m_progress->WaitEnded(); });
    // Each event that arrives is handled inside the wait, which then
    // returns, so a press of the stop button is seen at once.
    for (;;) {
        if (StopFlag == 1 || m_closed)
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return true;
        MsgWaitForMultipleObjects(0, nullptr, false, static_cast<DWORD>(left), QS_ALLINPUT);
    }
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
    if (!FileExists(fileName)) {
        ForcePictureDirectory(ExtractFilePath(fileName));
        if (!FetchPicture(ExtractImageUrl(line), fileName))
            return false;
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
        if (Form2)
            LoadPictureFile(*Form2->Image1, fileName);
    } catch (...) {
        // Left on disk, a bad picture would stop every later run at this
        // number without being fetched anew. One that was there before the
        // run is the user's and stays.
        if (fetchedNow)
            ::unlink(fileName.c_str());
        throw;
    }
    m_log.Append(*Memo1, Memo1->AddLine(std::to_string(CurrentNumber)));
    m_progress->PictureTaken(fetchedNow);
    return true;
}

// The fetch dispatches the window's events while it waits, so the stop
// button and a close reach it there; like a stop during a page fetch, that
// ends the run quietly.
bool TForm1::FetchPicture(const std::string& url, const std::string& fileName) {
    ScopeExit shown([this] { m_progress->PictureEnded(); });
    return FetchWithRetries([this, &url, &fileName] {
        try {
            ImageFetcher1.Fetch(url, fileName);
        } catch (const EDownloadError& e) {
            if (e.ServiceError == ERROR_INTERNET_OPERATION_CANCELLED)
                return TFetchTry::Ended();
            if (!IsTransientDownload(e.ServiceError, e.HttpStatus))
                throw;
            return TFetchTry::Transient(std::current_exception(), e.RetryAfter >= 0
                                                                      ? std::optional(e.RetryAfter)
                                                                      : std::nullopt);
        }
        return TFetchTry {};
    });
}

std::string TForm1::PictureFileName(int32_t number) const {
    const std::string directory =
        PictureDirectory.empty() ? DefaultPictureDirectory(GetModuleDirectory()) : PictureDirectory;
    return directory + std::to_string(number) + ".jpg";
}
