#include "net/URLParse.h"

#include <strings.h>

namespace {

struct TSchemePort {
    const char* Scheme;
    int Port;
};

// The web's two first: nearly every lookup ends there.
constexpr TSchemePort kSchemePorts[16] = {
    { "http:", 80 },  { "https:", 443 }, { "ftp:", 21 },     { "telnet:", 23 },
    { "smtp:", 25 },  { "whois:", 43 },  { "whois++:", 63 }, { "gopher:", 70 },
    { "pop3:", 110 }, { "nntp:", 119 },  { "news:", 119 },   { "imap2:", 143 },
    { "irc:", 194 },  { "wais:", 210 },  { "imap3:", 220 },  { "ldap:", 389 },
};

// Cuts w at the first c: the piece from c to the end (c kept or dropped)
// goes to piece and is removed from w. Without a c, w stays and the piece is
// empty. Assigning into the caller's strings reuses their memory.
void SplitAt(std::string_view& w, char c, bool keep, std::string& piece) {
    const size_t at = w.find(c);
    if (at == std::string_view::npos) {
        piece.clear();
        return;
    }
    piece.assign(w.substr(keep ? at : at + 1));
    w.remove_suffix(w.size() - at);
}

bool IsSchemeChar(char c) {
    return c == '+' || c == '-' || c == '.' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

void ParseURL(std::string_view url, std::string& scheme, std::string& user, std::string& password,
              std::string& host, std::string& portPart, std::string& path, std::string& fileName,
              std::string& parameters, std::string& query, std::string& fragment) {
    std::string_view w = url;
    SplitAt(w, '#', true, fragment);

    size_t end = 0;
    while (end < w.size() && IsSchemeChar(w[end]))
        ++end;
    if (end + 1 < w.size() && w[end] == ':' && w[end + 1] == '/') {
        scheme.assign(w.substr(0, end + 1));
        w.remove_prefix(end + 1);
    } else {
        scheme.assign("http:");
    }

    std::string_view netLocation;
    if (w.substr(0, 2) == "//") {
        const size_t slash = w.find('/', 2);
        netLocation =
            w.substr(2, slash == std::string_view::npos ? std::string_view::npos : slash - 2);
        w.remove_prefix(slash == std::string_view::npos ? w.size() : slash);
    } else {
        const size_t slash = w.find('/');
        if (slash == std::string_view::npos) {
            netLocation = w;
            w = std::string_view();
        } else if (slash > 0) {
            netLocation = w.substr(0, slash);
            w.remove_prefix(slash);
        }
    }

    SplitAt(w, '?', true, query);
    SplitAt(w, ';', true, parameters);

    fileName.clear();
    if (!w.empty() && w.find('.') != std::string_view::npos) {
        const size_t slash = w.rfind('/');
        // Without any "/" the whole rest is the file name.
        const size_t cut = slash == std::string_view::npos ? 0 : slash + 1;
        fileName.assign(w.substr(cut));
        w.remove_suffix(w.size() - cut);
    }
    if (w.empty())
        path.assign(1, '/');
    else
        path.assign(w);

    user.clear();
    password.clear();
    host.clear();
    portPart.clear();
    if (!netLocation.empty()) {
        const size_t at = netLocation.find('@');
        if (at != std::string_view::npos) {
            std::string_view userPart = netLocation.substr(0, at);
            netLocation.remove_prefix(at + 1);
            SplitAt(userPart, ':', false, password);
            user.assign(userPart);
        }
        SplitAt(netLocation, ':', true, portPart);
        host.assign(netLocation);
    }
}

void ParseURL(std::string_view url, TURLParts& parts) {
    ParseURL(url, parts.Scheme, parts.User, parts.Password, parts.Host, parts.PortPart, parts.Path,
             parts.FileName, parts.Parameters, parts.Query, parts.Fragment);
}

int DefaultPortNumber(const std::string& scheme) {
    if (scheme.empty())
        return 80;
    for (const TSchemePort& row : kSchemePorts)
        if (::strcasecmp(scheme.c_str(), row.Scheme) == 0)
            return row.Port;
    return 80;
}

std::string DefaultPort(const std::string& scheme) {
    return std::to_string(DefaultPortNumber(scheme));
}
