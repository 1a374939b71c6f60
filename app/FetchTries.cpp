#include "app/FetchTries.h"

#include "app/ImageFetcher.h"
#include "net/KvHttp.h"
#include "platform/Events.h"
#include "platform/UrlService.h"
#include "toolkit/runtime/TAtomicFileStream.h"

#include <chrono>

TPageSettings TPageSettings::Of(const TKvHTTP& model) {
    TPageSettings settings;
    settings.Body = model.Body;
    settings.Header = model.Header;
    settings.InputFileMode = model.InputFileMode;
    settings.OutputFileMode = model.OutputFileMode;
    settings.Proxy = model.Proxy;
    settings.ProxyPort = model.ProxyPort;
    settings.Port = model.Port;
    settings.ReportLevel = model.ReportLevel;
    settings.TimeOut = model.TimeOut;
    settings.MaxBodySize = model.MaxBodySize;
    settings.MinRateBytes = model.MinRateBytes;
    settings.MinRatePeriod = model.MinRatePeriod;
    return settings;
}

void TPageSettings::ApplyTo(TKvHTTP& http) const {
    http.Body = Body;
    http.Header = Header;
    http.InputFileMode = InputFileMode;
    http.OutputFileMode = OutputFileMode;
    http.Proxy = Proxy;
    http.ProxyPort = ProxyPort;
    http.Port = Port;
    http.ReportLevel = ReportLevel;
    http.TimeOut = TimeOut;
    http.MaxBodySize = MaxBodySize;
    http.MinRateBytes = MinRateBytes;
    http.MinRatePeriod = MinRatePeriod;
}

TFetchTry TryPage(TKvHTTP& http, const std::string& address, const bool& aborted) {
    try {
        http.Get(address);
    } catch (const std::exception& error) {
        if (aborted)
            return TFetchTry::Ended();
        const auto* failure = dynamic_cast<const ESockError*>(&error);
        if (failure == nullptr || !IsTransientPageError(failure->Kind))
            throw;
        return TFetchTry::Transient(std::current_exception(), std::nullopt);
    }
    if (!IsTransientStatus(http.ReplyCode))
        return TFetchTry {};
    return TFetchTry::Transient(nullptr, RetryAfterSeconds(http.Header));
}

TFetchTry TryPicture(TImageFetcher& fetcher, const std::string& url, const std::string& fileName,
                     std::unique_ptr<TAtomicFileStream>& output) {
    try {
        output = fetcher.Download(url, fileName);
    } catch (const EDownloadError& e) {
        if (e.ServiceError == ERROR_INTERNET_OPERATION_CANCELLED)
            return TFetchTry::Ended();
        if (!IsTransientDownload(e.ServiceError, e.HttpStatus))
            throw;
        return TFetchTry::Transient(std::current_exception(),
                                    e.RetryAfter >= 0 ? std::optional(e.RetryAfter) : std::nullopt);
    }
    return TFetchTry {};
}

bool FetchWithRetries(const std::function<TFetchTry()>& fetch, const TRetryWaits& waits,
                      const std::function<bool()>& stopping,
                      const std::function<bool(int32_t)>& wait) {
    for (int attempt = 1;; ++attempt) {
        const TFetchTry outcome = fetch();
        if (outcome.Result != TFetchTry::TResult::Transient)
            return outcome.Result == TFetchTry::TResult::Done;
        if (attempt == MaxAttempts || stopping()) {
            if (outcome.Failure)
                std::rethrow_exception(outcome.Failure);
            return true;
        }
        if (!wait(RetryWait(attempt, waits, outcome.RetryAfterSeconds)))
            return false;
    }
}

bool DispatchingWait(int32_t milliseconds, const std::function<bool()>& ended) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (ended())
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return true;
        MsgWaitForMultipleObjects(0, nullptr, false, static_cast<DWORD>(left), QS_ALLINPUT);
    }
}
