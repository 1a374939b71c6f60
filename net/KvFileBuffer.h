#pragma once

#include <cstdint>
#include <memory>

class TStream;

// A read-ahead window over a stream for the encoders, which walk their input
// byte by byte with two pointers: the window runs from Start() to End() and
// holds at most 65,533 bytes of one 65,535-byte block. The byte at End() is
// always zero. The stream stays the caller's.
class TKvFileBuffer {
public:
    static constexpr int32_t kBlockSize = 65535;
    static constexpr int32_t kWindowSize = kBlockSize - 2;

    // Rewinds the stream and loads its first block.
    explicit TKvFileBuffer(TStream& source);
    ~TKvFileBuffer();
    TKvFileBuffer(const TKvFileBuffer&) = delete;
    TKvFileBuffer& operator=(const TKvFileBuffer&) = delete;

    const char* Start() const { return m_start; }
    const char* End() const { return m_end; }

    // Loads the next block, after carryLength bytes moved from carry to the
    // window's start (they may lie inside the window). False at the end of the
    // stream, and then the window stays as it was. Read errors of the stream
    // pass through.
    bool FillWindow(const char* carry, int32_t carryLength);

private:
    TStream& m_source;
    int64_t m_size;
    std::unique_ptr<char[]> m_block;
    char* m_start;
    char* m_end;
};
