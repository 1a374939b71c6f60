#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The name service behind WSAAsyncGetHostByName. The library calls the
// installed resolver on a worker thread, one call per lookup; the system
// resolver asks getaddrinfo for IPv4 stream addresses. Tests install their
// own resolver so that no lookup ever leaves the machine, and so that they
// can play a lookup that fails or never answers.
//
// A successful answer is kept for a minute (HostResolverCache.h), and a
// lookup of the same name meanwhile takes it instead of calling the
// resolver. Installing a resolver forgets every kept answer, and an answer
// that arrives from a resolver no longer installed is not kept.

struct HostLookupResult {
    // 0, or the socket library's error number: WSAHOST_NOT_FOUND (11001),
    // WSATRY_AGAIN (11002), WSANO_RECOVERY (11003), WSANO_DATA (11004).
    int error = 0;
    std::string officialName;
    std::vector<std::string> aliases;
    // IPv4 addresses in network byte order, first one first.
    std::vector<std::array<std::uint8_t, 4>> addresses;
};

class HostResolver {
public:
    virtual ~HostResolver() = default;
    // Called on a worker thread; may block as long as it likes. A lookup
    // whose answer is no longer wanted (cancelled, window destroyed, library
    // cleaned up) still runs to its end; its result is then dropped.
    virtual HostLookupResult Resolve(const std::string& name) = 0;
};

// getaddrinfo with AF_INET; the canonical name becomes the official name.
class SystemHostResolver : public HostResolver {
public:
    HostLookupResult Resolve(const std::string& name) override;
};

// Installs the resolver used by lookups that start from now on (a lookup in
// progress keeps the one it started with) and forgets the kept answers; null
// restores the system resolver. Returns the one that was installed.
std::shared_ptr<HostResolver> SetHostResolver(std::shared_ptr<HostResolver> resolver);
std::shared_ptr<HostResolver> CurrentHostResolver();

// What a lookup of the name starts from: the answer kept for it, or else the
// resolver to call, with the number of its installation for KeepHostAnswer.
struct HostLookupStart {
    std::optional<HostLookupResult> Kept;
    std::shared_ptr<HostResolver> Resolver;
    std::uint64_t Installation = 0;
};
HostLookupStart StartHostLookup(const std::string& name);
// Keeps the resolver's answer, if it is a success, while that installation is
// the current one. Any thread.
void KeepHostAnswer(const std::string& name, const HostLookupResult& result,
                    std::uint64_t installation);

// Installs a resolver for the lifetime of the guard, then puts back the one
// that was there.
class ScopedHostResolver {
public:
    explicit ScopedHostResolver(std::shared_ptr<HostResolver> resolver)
        : m_previous(SetHostResolver(std::move(resolver))) {}
    ~ScopedHostResolver() { SetHostResolver(std::move(m_previous)); }
    ScopedHostResolver(const ScopedHostResolver&) = delete;
    ScopedHostResolver& operator=(const ScopedHostResolver&) = delete;

private:
    std::shared_ptr<HostResolver> m_previous;
};
