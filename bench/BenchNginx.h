#pragma once

#include "tests/support/LocalServerProcess.h"

#include <string>

// nginx on 127.0.0.1 serving a private document root, tuned for measuring
// the client: no access log, sendfile, keep-alive for clients that ask.
class BenchNginx : public LocalServerProcess {
public:
    // serverConfig goes inside the one server block (locations, limits).
    explicit BenchNginx(const std::string& serverConfig = "");
    // "http://127.0.0.1:<port>" + path.
    std::string Url(const std::string& path) const;
    // Writes a file below the document root.
    void WriteFile(const std::string& name, const std::string& content) const;
};
