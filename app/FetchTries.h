#pragma once

#include "app/RetryPolicy.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TAtomicFileStream;
class TImageFetcher;
class TKvHTTP;

// One try of each kind of fetch the download run makes, and the loop that
// tries again (RetryPolicy.h). The run's own fetches and those made ahead on
// worker threads go through these same functions, so that both decide alike
// what is transient, what ends quietly and what fails.

// The settings of the run's page component, as plain values that another
// thread's component can take, so that a page fetched ahead is requested
// byte for byte as the run would.
struct TPageSettings {
    std::string Body;
    std::string Header;
    bool InputFileMode { false };
    bool OutputFileMode { false };
    std::string Proxy;
    int32_t ProxyPort { 0 };
    int32_t Port { 0 };
    int32_t ReportLevel { 0 };
    int32_t TimeOut { 0 };
    int64_t MaxBodySize { 0 };
    int32_t MinRateBytes { 0 };
    int32_t MinRatePeriod { 0 };

    static TPageSettings Of(const TKvHTTP& model);
    void ApplyTo(TKvHTTP& http) const;
};

// One page fetch into http.Body. `aborted` is set by whoever calls
// http.Abort to end it on purpose: whatever error the abort makes the
// component raise is then no failure but an end. A response whose status
// asks to come back later is transient; it is still usable as a page.
TFetchTry TryPage(TKvHTTP& http, const std::string& address, const bool& aborted);

// One picture download into `output`, which the try makes (and which holds
// the complete picture, flushed to disk but not in place, once it is Done).
TFetchTry TryPicture(TImageFetcher& fetcher, const std::string& url, const std::string& fileName,
                     std::unique_ptr<TAtomicFileStream>& output);

// Runs a fetch until it is done, ended, fails for good, or its tries are
// used up. `stopping()` true makes a transient failure final at once (a run
// that is to stop anyway goes on as without retries); `wait(ms)` waits
// before another try and returns false when something ended the wait. A
// failure that persists is raised; a usable response whose status was
// transient counts as done. False when the fetch or a wait was ended.
bool FetchWithRetries(const std::function<TFetchTry()>& fetch, const TRetryWaits& waits,
                      const std::function<bool()>& stopping,
                      const std::function<bool(int32_t)>& wait);

// Waits `milliseconds` while the thread's events go on; each event that
// arrives is handled inside the wait, so `ended()` is looked at again at
// once. False when `ended()` became true first.
bool DispatchingWait(int32_t milliseconds, const std::function<bool()>& ended);
