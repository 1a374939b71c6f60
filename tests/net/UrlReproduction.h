#pragma once

#include "net/URLParse.h"

#include <string>

// Checks the promise the request target relies on: path + file name +
// parameters + query + fragment give back everything of the URL after its
// net location, with a "/" in front when that rest does not start with one.
// The net location is found from the outputs alone: the URL must begin with
// an optional scheme text and "//", then the user text, "@", host and port
// part. Returns an empty string when the promise holds, otherwise what broke.
inline std::string CheckUrlReproduction(const std::string& url) {
    std::string scheme, user, password, host, portPart, path, fileName, parameters, query, fragment;
    ParseURL(url, scheme, user, password, host, portPart, path, fileName, parameters, query,
             fragment);
    const std::string rest = path + fileName + parameters + query + fragment;
    if (path.empty() || path.front() != '/')
        return "path does not start with /";

    const std::string hostPort = host + portPart;
    const std::string netLocations[] = { hostPort, user + "@" + hostPort,
                                         user + ":" + password + "@" + hostPort };
    const std::string prefixes[] = { "", "//", scheme, scheme + "//" };
    for (const std::string& prefix : prefixes) {
        for (const std::string& netLocation : netLocations) {
            const std::string head = prefix + netLocation;
            if (url.compare(0, head.size(), head) != 0)
                continue;
            const std::string after = url.substr(head.size());
            if (rest == after || (rest == "/" + after && (after.empty() || after.front() != '/')))
                return std::string();
        }
    }
    return "rest \"" + rest + "\" does not continue the net location of \"" + url + "\"";
}
