#include "app/RetryPolicy.h"

#include "app/HttpDate.h"
#include "platform/UrlService.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool IsRetryAfterLine(const std::string& line) {
    constexpr std::string_view name = "retry-after:";
    return line.size() >= name.size() &&
           std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

// A date's seconds from now; 0 once it has passed.
std::optional<int64_t> SecondsUntil(const std::string& value,
                                    std::chrono::system_clock::time_point now) {
    const std::chrono::sys_seconds nowSeconds = std::chrono::floor<std::chrono::seconds>(now);
    const std::optional<std::chrono::sys_seconds> date = ParseHttpDate(value, nowSeconds);
    if (!date)
        return std::nullopt;
    return std::max<int64_t>(0, (*date - nowSeconds).count());
}

} // namespace

bool IsTransientStatus(int status) {
    return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

bool IsTransientPageError(TSockFailure kind) {
    switch (kind) {
    case TSockFailure::Refused:
    case TSockFailure::Reset:
    case TSockFailure::TimedOut:
    case TSockFailure::ClosedEarly:
        return true;
    default:
        return false;
    }
}

bool IsTransientDownload(uint32_t serviceError, uint32_t httpStatus) {
    switch (serviceError) {
    case 0:
        return IsTransientStatus(static_cast<int>(httpStatus));
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        return true;
    default:
        return false;
    }
}

std::optional<int64_t> RetryAfterSeconds(const std::string& header) {
    return RetryAfterSeconds(header, std::chrono::system_clock::now());
}

std::optional<int64_t> RetryAfterSeconds(const std::string& header,
                                         std::chrono::system_clock::time_point now) {
    size_t start = 0;
    while (start < header.size()) {
        size_t end = header.find('\n', start);
        if (end == std::string::npos)
            end = header.size();
        const std::string line = header.substr(start, end - start);
        start = end + 1;
        if (!IsRetryAfterLine(line))
            continue;
        const std::string value = Trimmed(line.substr(line.find(':') + 1));
        if (value.empty())
            return std::nullopt;
        if (!std::all_of(value.begin(), value.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return SecondsUntil(value, now);
        // Any number of digits: more than a day is as good as for ever.
        return value.size() > 9 ? int64_t { 999999999 } : std::stoll(value);
    }
    return std::nullopt;
}

int32_t RetryWait(int attempt, const TRetryWaits& waits, std::optional<int64_t> retryAfterSeconds) {
    if (retryAfterSeconds)
        return static_cast<int32_t>(
            std::min<int64_t>(*retryAfterSeconds * 1000, int64_t { MaxRetryAfter }));
    return waits[static_cast<size_t>(attempt - 1)];
}
