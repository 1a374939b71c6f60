#pragma once

#include <string>

// Optional values for the request header of TKvHTTP. Empty means "not sent".
// The component itself writes Cookie (carried over a redirect) and UserId and
// Password (taken from credentials written in a URL); those values stay for
// later commands.
class THeaderInfo {
public:
    std::string LocalMailAddress; // sent as User-Agent
    std::string LocalProgram;     // sent as From
    std::string Cookie;
    std::string Referer;
    std::string UserId;
    std::string Password;
    std::string ProxyUserId;
    std::string ProxyPassword;
};
