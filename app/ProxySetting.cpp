#include "app/ProxySetting.h"

#include "net/KvHttp.h"
#include "net/URLParse.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace {

constexpr int32_t DefaultProxyPort = 1080;

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number of 1 to `maxDigits` decimal digits.
std::optional<uint32_t> Decimal(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits || !std::all_of(text.begin(), text.end(), IsDigit))
        return std::nullopt;
    uint32_t value = 0;
    for (const char c : text)
        value = value * 10 + static_cast<uint32_t>(c - '0');
    return value;
}

// The first of the variables that is set to a non-empty text.
const char* FirstSet(const TEnvironmentLookup& environment,
                     std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (const char* value = environment(name); value && *value)
            return value;
    return nullptr;
}

std::optional<uint32_t> Ipv4(std::string_view text) {
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = part < 3 ? text.find('.') : text.size();
        const std::optional<uint32_t> value = Decimal(text.substr(0, dot), 3);
        if (dot == std::string_view::npos || !value || *value > 255)
            return std::nullopt;
        address = address << 8 | *value;
        text.remove_prefix(std::min(dot + 1, text.size()));
    }
    return address;
}

bool IsNoProxyEntryFor(std::string_view entry, std::string_view host) {
    if (entry == "*")
        return true;
    if (const std::optional<uint32_t> address = Ipv4(host)) {
        const size_t slash = entry.find('/');
        const std::optional<uint32_t> network = Ipv4(entry.substr(0, slash));
        const std::optional<uint32_t> bits =
            slash == std::string_view::npos ? 32 : Decimal(entry.substr(slash + 1), 2);
        if (!network || !bits || *bits > 32)
            return false;
        const uint32_t mask = *bits == 0 ? 0 : ~uint32_t { 0 } << (32 - *bits);
        return (*network & mask) == (*address & mask);
    }
    if (entry.starts_with('.'))
        entry.remove_prefix(1);
    if (entry.empty() || entry.size() > host.size())
        return false;
    const size_t start = host.size() - entry.size();
    return EqualIgnoringCase(host.substr(start), entry) && (start == 0 || host[start - 1] == '.');
}

bool GoesDirect(std::string_view noProxy, std::string_view host) {
    while (!noProxy.empty()) {
        const size_t comma = std::min(noProxy.find(','), noProxy.size());
        std::string_view entry = noProxy.substr(0, comma);
        noProxy.remove_prefix(std::min(comma + 1, noProxy.size()));
        while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t'))
            entry.remove_prefix(1);
        while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t'))
            entry.remove_suffix(1);
        if (IsNoProxyEntryFor(entry, host))
            return true;
    }
    return false;
}

std::optional<TProxySetting> ParsedProxy(std::string_view value) {
    if (const size_t schemeEnd = value.find("://"); schemeEnd != std::string_view::npos) {
        if (!EqualIgnoringCase(value.substr(0, schemeEnd), "http"))
            return std::nullopt;
        value.remove_prefix(schemeEnd + 3);
    }
    // A path after the proxy's address means nothing.
    value = value.substr(0, value.find('/'));
    // Credentials are for libcurl: pages go through the proxy's address alone.
    if (const size_t at = value.rfind('@'); at != std::string_view::npos)
        value.remove_prefix(at + 1);
    const size_t colon = value.find(':');
    const std::string_view host = value.substr(0, colon);
    const bool hostOk = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return IsDigit(c) || (LowerAscii(c) >= 'a' && LowerAscii(c) <= 'z') || c == '.' ||
               c == '-' || c == '_';
    });
    if (!hostOk)
        return std::nullopt;
    TProxySetting proxy;
    proxy.Host = std::string(host);
    proxy.Port = DefaultProxyPort;
    if (colon != std::string_view::npos) {
        const std::optional<uint32_t> port = Decimal(value.substr(colon + 1), 5);
        if (!port || *port < 1 || *port > 65535)
            return std::nullopt;
        proxy.Port = static_cast<int32_t>(*port);
    }
    return proxy;
}

} // namespace

TProxySetting ProxyFor(const std::string& scheme, const std::string& host,
                       const TEnvironmentLookup& environment) {
    const char* noProxy = FirstSet(environment, { "no_proxy", "NO_PROXY" });
    if (noProxy && GoesDirect(noProxy, host))
        return {};
    const char* proxy = nullptr;
    if (EqualIgnoringCase(scheme, "http"))
        proxy = FirstSet(environment, { "http_proxy" });
    else if (EqualIgnoringCase(scheme, "https"))
        proxy = FirstSet(environment, { "https_proxy", "HTTPS_PROXY" });
    if (!proxy)
        proxy = FirstSet(environment, { "all_proxy", "ALL_PROXY" });
    if (!proxy)
        return {};
    return ParsedProxy(proxy).value_or(TProxySetting {});
}

void UsePageProxy(TKvHTTP& http, const std::string& siteAddress) {
    std::string scheme, user, password, host, port, path, fileName, parameters, query, fragment;
    ParseURL(siteAddress, scheme, user, password, host, port, path, fileName, parameters, query,
             fragment);
    if (!scheme.empty() && scheme.back() == ':')
        scheme.pop_back();
    const TProxySetting proxy =
        ProxyFor(scheme, host, [](const char* name) { return std::getenv(name); });
    http.Proxy = proxy.Host;
    if (!proxy.Host.empty())
        http.ProxyPort = proxy.Port;
}
