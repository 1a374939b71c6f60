#include "platform/HostResolverCache.h"

#include <algorithm>
#include <cctype>

std::string HostResolverCache::Key(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

std::optional<HostLookupResult> HostResolverCache::Find(const std::string& name,
                                                        Clock::time_point now) const {
    const auto found = m_answers.find(Key(name));
    if (found == m_answers.end() || now >= found->second.Expires)
        return std::nullopt;
    return found->second.Result;
}

void HostResolverCache::Keep(const std::string& name, const HostLookupResult& result,
                             Clock::time_point now) {
    std::erase_if(m_answers, [now](const auto& entry) { return now >= entry.second.Expires; });
    if (result.error != 0 || result.addresses.empty())
        return;
    m_answers.insert_or_assign(Key(name), Kept { result, now + kLifetime });
}
