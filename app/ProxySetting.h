#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TKvHTTP;

// The proxy that requests to a host go through, read from the environment by
// the rules libcurl applies to the pictures, so that pages and pictures take
// the same way:
//   - no_proxy (NO_PROXY when it is unset) lists hosts that go direct,
//     separated by commas: "*" is every host; a name matches itself and the
//     names ending in "." and it (a leading "." is ignored), without regard to
//     letter case; an IPv4 address matches itself and, written
//     "a.b.c.d/bits", the addresses it covers;
//   - otherwise http_proxy for http (in lower case only: a web server sets
//     HTTP_PROXY from a client's "Proxy:" header for CGI programs, so libcurl
//     never reads it), https_proxy or HTTPS_PROXY for https, and failing
//     those all_proxy or ALL_PROXY.
// A variable set to the empty text counts as unset. A proxy is written
// [http://][user:password@]host[:port][/], its port 1080 when none is
// written; credentials reach the pictures' requests only. A value the page
// component cannot use gives pages no proxy: a malformed one (no host, a
// port that is not 1 to 65535) fails the pictures in libcurl too, and the
// run reports that; an HTTPS or SOCKS proxy, or one at an IPv6 address,
// serves the pictures alone.
struct TProxySetting {
    // Empty for no proxy.
    std::string Host;
    int32_t Port { 0 };
};

// One environment variable's value, or null when it is unset.
using TEnvironmentLookup = std::function<const char*(const char* name)>;

// scheme: "http" or "https", in any letter case; host as written in the URL.
TProxySetting ProxyFor(const std::string& scheme, const std::string& host,
                       const TEnvironmentLookup& environment);

// Sets the component's proxy for the pages of a site address from this
// process's environment; with none, Proxy is empty and ProxyPort unchanged.
void UsePageProxy(TKvHTTP& http, const std::string& siteAddress);
