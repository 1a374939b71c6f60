#include "platform/HostResolver.h"

#include "platform/HostResolverCache.h"
#include "platform/WinsockError.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <utility>

namespace {

// The installed resolver and its kept answers change together, under one
// lock. Never destroyed: lookup workers may use them during static teardown.
struct Installed {
    std::shared_ptr<HostResolver> Resolver { std::make_shared<SystemHostResolver>() };
    std::uint64_t Installation = 0;
    HostResolverCache Answers;
};
std::mutex g_resolverMutex;
Installed& TheInstalled() {
    static auto* installed = new Installed;
    return *installed;
}

} // namespace

HostLookupResult SystemHostResolver::Resolve(const std::string& name) {
    HostLookupResult result;
    // An address in dots is its own answer; asking getaddrinfo for its
    // canonical name could start a reverse lookup on the network.
    ::in_addr numeric {};
    if (::inet_aton(name.c_str(), &numeric) != 0) {
        result.officialName = name;
        std::array<std::uint8_t, 4> address {};
        std::memcpy(address.data(), &numeric.s_addr, 4);
        result.addresses.push_back(address);
        return result;
    }
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (status != 0) {
        result.error = WinsockErrorFromLookup(status, errno);
        return result;
    }
    for (addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_canonname && result.officialName.empty())
            result.officialName = entry->ai_canonname;
        if (entry->ai_family != AF_INET || !entry->ai_addr)
            continue;
        std::array<std::uint8_t, 4> address {};
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        std::memcpy(address.data(), &ipv4->sin_addr.s_addr, 4);
        if (std::find(result.addresses.begin(), result.addresses.end(), address) ==
            result.addresses.end())
            result.addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    if (result.addresses.empty())
        result.error = WinsockErrorFromLookup(EAI_NODATA, 0);
    return result;
}

std::shared_ptr<HostResolver> SetHostResolver(std::shared_ptr<HostResolver> resolver) {
    if (!resolver)
        resolver = std::make_shared<SystemHostResolver>();
    std::lock_guard lock(g_resolverMutex);
    Installed& installed = TheInstalled();
    ++installed.Installation;
    installed.Answers.Clear();
    return std::exchange(installed.Resolver, std::move(resolver));
}

std::shared_ptr<HostResolver> CurrentHostResolver() {
    std::lock_guard lock(g_resolverMutex);
    return TheInstalled().Resolver;
}

HostLookupStart StartHostLookup(const std::string& name) {
    std::lock_guard lock(g_resolverMutex);
    const Installed& installed = TheInstalled();
    if (auto kept = installed.Answers.Find(name, HostResolverCache::Clock::now()))
        return HostLookupStart { std::move(kept), nullptr, installed.Installation };
    return HostLookupStart { std::nullopt, installed.Resolver, installed.Installation };
}

void KeepHostAnswer(const std::string& name, const HostLookupResult& result,
                    std::uint64_t installation) {
    std::lock_guard lock(g_resolverMutex);
    Installed& installed = TheInstalled();
    if (installed.Installation == installation)
        installed.Answers.Keep(name, result, HostResolverCache::Clock::now());
}
