#pragma once

#include <string>
#include <string_view>

// Splits a URL into ten parts. Each part keeps the separator that introduced
// it, so path + fileName + parameters + query + fragment give back, character
// for character, everything after the net location ("/" when nothing follows
// it). The parser never fails: what it does not recognise ends up in the host
// or the path. Its quirks are deliberate and relied upon:
//   - the scheme is "name:" followed by "/", where the name holds only letters,
//     "+", "-" and "." (no digits: "pop3://h/" has no scheme); "http:" otherwise;
//   - the net location ends only at a "/": "http://h?x" has the host "h?x";
//   - a file name is split off the path whenever the path holds a "." anywhere.
// All ten outputs are written on every call; url must not be one of them.
void ParseURL(std::string_view url, std::string& scheme, std::string& user, std::string& password,
              std::string& host, std::string& portPart, std::string& path, std::string& fileName,
              std::string& parameters, std::string& query, std::string& fragment);

// A URL's ten parts as ParseURL gives them, each with the separator that
// introduced it.
struct TURLParts {
    std::string Scheme;
    std::string User;
    std::string Password;
    std::string Host;
    std::string PortPart;
    std::string Path;
    std::string FileName;
    std::string Parameters;
    std::string Query;
    std::string Fragment;
};

// ParseURL into parts, whose memory a caller that parses many URLs reuses.
void ParseURL(std::string_view url, TURLParts& parts);

// The default port, as text, of a scheme as ParseURL gives it (colon
// included), compared without regard to letter case; "80" for anything else.
std::string DefaultPort(const std::string& scheme);
// The same as a number.
int DefaultPortNumber(const std::string& scheme);
