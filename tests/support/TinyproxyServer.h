#pragma once

#include "tests/support/LocalServerProcess.h"

// tinyproxy on a free loopback port with a generated configuration that
// allows 127.0.0.1; it runs in the foreground as the test's user.
class TinyproxyServer : public LocalServerProcess {
public:
    TinyproxyServer();
    // tinyproxy's log (one line per connection and more), for assertions.
    std::string Log() const;
};
