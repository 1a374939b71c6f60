#include "app/FetchTries.h"

#include "app/ImageFetcher.h"
#include "net/KvHttp.h"
#include "platform/Events.h"
#include "platform/UrlService.h"
#include "toolkit/runtime/TAtomicFileStream.h"

#include <chrono>

namespace {

// The settings both ways: from the window's component, and onto another.
template <typename From, typename To> void CopySettings(const From& from, To& to) {
    to.Body = from.Body;
    to.Header = from.Header;
    to.InputFileMode = from.InputFileMode;
    to.OutputFileMode = from.OutputFileMode;
    to.Proxy = from.Proxy;
    to.ProxyPort = from.ProxyPort;
    to.Port = from.Port;
    to.ReportLevel = from.ReportLevel;
    to.TimeOut = from.TimeOut;
    to.MaxBodySize = from.MaxBodySize;
    to.MinRateBytes = from.MinRateBytes;
    to.MinRatePeriod = from.MinRatePeriod;
}

} // namespace

TPageSettings TPageSettings::Of(const TKvHTTP& model) {
    TPageSettings settings;
    CopySettings(model, settings);
    return settings;
}

void TPageSettings::ApplyTo(TKvHTTP& http) const {
    CopySettings(*this, http);
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
