// Any byte string as the server's side of a TLS handshake: the client
// session reads it in pieces of varying size, with the socket having
// nothing to give between pieces, and the input's end is the server's
// close. Nothing may crash or hang, and no session may succeed with a
// server that proved nothing (no CA is trusted here), so every run ends in
// ESockError.
#include "net/ESockError.h"
#include "net/TlsSession.h"
#include "platform/Winsock.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A socket whose peer sends the fuzz input: the piece sizes cycle through
// a fixed pattern so that records are split at many kinds of boundary, and
// every other receive finds the socket empty. Everything sent is taken.
class ScriptedServer : public TTlsTransport {
public:
    ScriptedServer(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    int Receive(char* buffer, int size, int& errorNo) noexcept override {
        m_empty = !m_empty;
        if (m_empty) {
            errorNo = Winsock::WSAEWOULDBLOCK;
            return -1;
        }
        if (m_offset == m_size)
            return 0;
        static constexpr size_t kPieces[] = { 1, 5, 3, 4096, 2, 300, 16384, 7 };
        const size_t piece = kPieces[m_calls++ % std::size(kPieces)];
        const size_t count = std::min({ piece, m_size - m_offset, static_cast<size_t>(size) });
        std::memcpy(buffer, m_data + m_offset, count);
        m_offset += count;
        return static_cast<int>(count);
    }

    int Send(const char*, int size, int&) noexcept override { return size; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset { 0 };
    size_t m_calls { 0 };
    bool m_empty { false };
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScriptedServer server(data, size);
    try {
        TTlsSession session("127.0.0.1", server);
        // Each step either takes input or finds the socket empty, which the
        // next step does not, so the steps are bounded by the input.
        for (size_t steps = 0; steps <= 2 * size + 2; ++steps)
            if (session.Handshake() == TTlsWait::None) {
                std::fprintf(stderr, "handshake succeeded without a trusted certificate\n");
                std::abort();
            }
        std::fprintf(stderr, "handshake still running after the input ended\n");
        std::abort();
    } catch (const ESockError&) {
    }
    if (TTlsSession::LiveSessions() != 0)
        std::abort();
    return 0;
}
