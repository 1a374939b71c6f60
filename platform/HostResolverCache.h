#pragma once

#include "platform/HostResolver.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>

// The answers of the installed resolver that are still fresh, so that a page
// and its pictures, fetched one after another, look their host up once.
// Only successes with an address are kept, each for a minute from when it
// arrived: a failure may be a passing one, and the next lookup asks again.
// Names differ in case only are one name. Not locked: its owner
// (HostResolver.cpp) guards it together with the installed resolver.
class HostResolverCache {
public:
    using Clock = std::chrono::steady_clock;
    // As long as libcurl keeps the addresses it looked up for pictures.
    static constexpr std::chrono::seconds kLifetime { 60 };

    // The answer kept for the name, unless it is older than kLifetime.
    std::optional<HostLookupResult> Find(const std::string& name, Clock::time_point now) const;
    // Keeps a successful answer, replacing an older one; forgets stale ones.
    void Keep(const std::string& name, const HostLookupResult& result, Clock::time_point now);
    void Clear() { m_answers.clear(); }

private:
    struct Kept {
        HostLookupResult Result;
        Clock::time_point Expires;
    };

    static std::string Key(const std::string& name);

    std::map<std::string, Kept> m_answers;
};
