#include "platform/HostResolver.h"

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

std::mutex g_resolverMutex;
std::shared_ptr<HostResolver>& InstalledResolver() {
    // Never destroyed: lookup workers may read it during static teardown.
    static auto* resolver =
        new std::shared_ptr<HostResolver>(std::make_shared<SystemHostResolver>());
    return *resolver;
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
    return std::exchange(InstalledResolver(), std::move(resolver));
}

std::shared_ptr<HostResolver> CurrentHostResolver() {
    std::lock_guard lock(g_resolverMutex);
    return InstalledResolver();
}
