// Any byte string as a URL: the parser must not fail, and the request target
// it yields must reproduce everything after the net location.
#include "tests/net/UrlReproduction.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    const std::string failure = CheckUrlReproduction(url);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
