#pragma once

#include "net/ESockError.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

// When the download run tries a failed fetch again. A transient failure (a
// refused or dropped connection, a time-out, a status that asks to come
// back later) is tried again after a wait, up to MaxAttempts tries in all;
// anything else fails at once. A failure that persists then goes on as it
// would without retries.

inline constexpr int MaxAttempts = 4;
// The longest wait a server's Retry-After may ask for.
inline constexpr int32_t MaxRetryAfter = 60000;

// The waits before the second, third and fourth try, in milliseconds.
using TRetryWaits = std::array<int32_t, MaxAttempts - 1>;
inline constexpr TRetryWaits DefaultRetryWaits { 1000, 2000, 4000 };

// 429, 500, 502, 503 and 504.
bool IsTransientStatus(int status);

// An error of a page fetch that nobody aborted, by its kind: a refused or
// dropped connection, a time limit that ran out, or a server that closed
// before the whole response.
bool IsTransientPageError(TSockFailure kind);

// A picture download that failed: the URL service's code (a time-out, a
// refused, cut or broken connection, no reply), or with code 0 the
// server's status.
bool IsTransientDownload(uint32_t serviceError, uint32_t httpStatus);

// The Retry-After of a response header (CR LF or LF lines), in seconds: a
// number of seconds, or an HTTP date (the IMF-fixdate "Sun, 06 Nov 1994
// 08:49:37 GMT" or the obsolete RFC 850 and asctime forms) counted from now,
// 0 when it has passed. Nothing for no header or a value of neither form.
std::optional<int64_t> RetryAfterSeconds(const std::string& header);
// The same, with the current time given.
std::optional<int64_t> RetryAfterSeconds(const std::string& header,
                                         std::chrono::system_clock::time_point now);

// The wait after failed try `attempt` (1 to MaxAttempts - 1): the server's
// Retry-After when it sent one, at most MaxRetryAfter, else the scheduled one.
int32_t RetryWait(int attempt, const TRetryWaits& waits, std::optional<int64_t> retryAfterSeconds);

// What one try of a fetch came to, for the loop that tries again.
struct TFetchTry {
    enum class TResult {
        Done,      // fetched
        Ended,     // the stop button or a close ended it: no error, no retry
        Transient, // worth another try
    };
    TResult Result { TResult::Done };
    // The error to raise should no try be left; none for a response that is
    // usable as it is (a page with a transient status).
    std::exception_ptr Failure;
    std::optional<int64_t> RetryAfterSeconds;

    static TFetchTry Ended() { return { TResult::Ended, nullptr, std::nullopt }; }
    static TFetchTry Transient(std::exception_ptr failure, std::optional<int64_t> retryAfter) {
        return { TResult::Transient, std::move(failure), retryAfter };
    }
};
