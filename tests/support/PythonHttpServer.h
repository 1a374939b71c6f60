#pragma once

#include "tests/support/LocalServerProcess.h"

#include <string>

// Python's http.server on a port of its own choosing, serving the files a
// test writes into its directory.
class PythonHttpServer : public LocalServerProcess {
public:
    PythonHttpServer();
    // "http://127.0.0.1:<port>" + path; the path should start with "/".
    std::string Url(const std::string& path) const;
    void WriteFile(const std::string& name, const std::string& content) const;
};
