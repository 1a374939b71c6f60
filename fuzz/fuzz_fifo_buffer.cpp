// Random operation sequences on a small receive buffer, checked step by step
// against a std::deque. The first byte picks the memory capacity, so spills,
// refills and searches across the memory/file seam come up constantly.
#include "tests/net/FifoModel.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096)
        return 0;
    TFifoModel model(data[0] % 64 + 1);
    const std::string failure = model.Run(data + 1, size - 1);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
