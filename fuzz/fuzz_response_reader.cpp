// Any byte string as the whole of a server's response: appended to the
// receive buffer of an HTTP component whose connection has already closed,
// then taken in by its header reader and body capture. Nothing may crash,
// and what lands in Header and Body together must be the response's bytes
// in order, all of them when the body runs to the close.
#include "net/KvHttp.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The bound on the kept body, as the program sets one.
constexpr int32_t kBodyBound = 1 << 20;

class ClosedConnectionReader : public TKvHTTP {
public:
    // The response as a Get would take it in once the server has closed:
    // the header when the reply starts like a status line, then the body up
    // to the announced length (within the bound) or to the end.
    void Take(const uint8_t* data, size_t size) {
        InputBuffer->Clear();
        InputBuffer->Append(data, static_cast<int32_t>(size));
        Connected = false;
        Canceled = false;
        Header.clear();
        Body.clear();
        SendTotal = 0;
        char start[3] = {};
        if (InputBuffer->Peek(start, 3) == 3 && std::string(start, 3) == "HTT")
            ReadResponseHeader();
        const int32_t count = SendTotal > 0 ? std::min(SendTotal, kBodyBound + 1) : kBodyBound + 1;
        CaptureString(Body, count);
    }
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// Made once and never destroyed: the application keeps a reference to its
// argument count, and nothing of Qt may run in the exit handlers.
int s_argc = 1;
char s_name[] = "fuzz_response_reader";
char* s_argv[] = { s_name, nullptr };
ClosedConnectionReader* s_reader = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    new QCoreApplication(s_argc, s_argv);
    s_reader = new ClosedConnectionReader();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 512 * 1024)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    try {
        s_reader->Take(data, size);
    } catch (const ESockError& error) {
        // Only the header bounds may refuse a response that has arrived, and
        // a header that the close cut, which keeps every byte it had.
        const std::string& message = error.Message();
        if (message == "Connection closed before the whole header arrived") {
            if (s_reader->Header != input)
                Fail("a cut header lost bytes");
        } else if (message != "Response header line too long" &&
                   message != "Response header too large") {
            Fail(message.c_str());
        }
        return 0;
    }
    const std::string taken = s_reader->Header + s_reader->Body;
    if (input.compare(0, taken.size(), taken) != 0)
        Fail("Header and Body are not the response's bytes in order");
    const bool toTheEnd = s_reader->SendTotal <= 0 && size <= static_cast<size_t>(kBodyBound);
    if (toTheEnd && taken.size() != size)
        Fail("bytes of the response were lost");
    if (s_reader->InputBuffer->Count() != static_cast<int32_t>(size - taken.size()))
        Fail("the buffer lost or made up bytes");
    return 0;
}
