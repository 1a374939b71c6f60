#include "net/URLParse.h"

#include <strings.h>

namespace {

struct TSchemePort {
    const char* Scheme;
    const char* Port;
};

constexpr TSchemePort kSchemePorts[16] = {
    { "ftp:", "21" },     { "telnet:", "23" }, { "smtp:", "25" },   { "whois:", "43" },
    { "whois++:", "63" }, { "gopher:", "70" }, { "http:", "80" },   { "pop3:", "110" },
    { "nntp:", "119" },   { "news:", "119" },  { "imap2:", "143" }, { "irc:", "194" },
    { "wais:", "210" },   { "imap3:", "220" }, { "ldap:", "389" },  { "https:", "443" },
};

// Cuts w at the first c: the piece from c to the end (c kept or dropped) is
// returned and removed from w. Without a c, w stays and the piece is empty.
std::string SplitAt(std::string& w, char c, bool keep) {
    const size_t at = w.find(c);
    if (at == std::string::npos)
        return std::string();
    std::string piece = w.substr(keep ? at : at + 1);
    w.erase(at);
    return piece;
}

bool IsSchemeChar(char c) {
    return c == '+' || c == '-' || c == '.' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

void ParseURL(std::string url, std::string& scheme, std::string& user, std::string& password,
              std::string& host, std::string& portPart, std::string& path, std::string& fileName,
              std::string& parameters, std::string& query, std::string& fragment) {
    std::string& w = url;
    fragment = SplitAt(w, '#', true);

    scheme = "http:";
    size_t end = 0;
    while (end < w.size() && IsSchemeChar(w[end]))
        ++end;
    if (end + 1 < w.size() && w[end] == ':' && w[end + 1] == '/') {
        scheme = w.substr(0, end + 1);
        w.erase(0, end + 1);
    }

    std::string netLocation;
    if (w.compare(0, 2, "//") == 0) {
        const size_t slash = w.find('/', 2);
        netLocation = w.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
        w.erase(0, slash == std::string::npos ? w.size() : slash);
    } else {
        const size_t slash = w.find('/');
        if (slash == std::string::npos) {
            netLocation = w;
            w.clear();
        } else if (slash > 0) {
            netLocation = w.substr(0, slash);
            w.erase(0, slash);
        }
    }

    query = SplitAt(w, '?', true);
    parameters = SplitAt(w, ';', true);

    fileName.clear();
    if (!w.empty() && w.find('.') != std::string::npos) {
        const size_t slash = w.rfind('/');
        // Without any "/" the whole rest is the file name.
        const size_t cut = slash == std::string::npos ? 0 : slash + 1;
        fileName = w.substr(cut);
        w.erase(cut);
    }
    path = w.empty() ? "/" : w;

    user.clear();
    password.clear();
    host.clear();
    portPart.clear();
    if (!netLocation.empty()) {
        const size_t at = netLocation.find('@');
        if (at != std::string::npos) {
            user = netLocation.substr(0, at);
            netLocation.erase(0, at + 1);
        }
        password = SplitAt(user, ':', false);
        portPart = SplitAt(netLocation, ':', true);
        host = netLocation;
    }
}

std::string DefaultPort(const std::string& scheme) {
    if (scheme.empty())
        return "80";
    for (const TSchemePort& row : kSchemePorts)
        if (::strcasecmp(scheme.c_str(), row.Scheme) == 0)
            return row.Port;
    return "80";
}
