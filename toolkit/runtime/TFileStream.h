#pragma once

#include "toolkit/runtime/TStream.h"

#include <string>

// Open modes. fmCreate makes a new empty file (truncating one of that name);
// the others open an existing file. Share flags are advisory on Linux: a
// "deny write" open takes a shared flock, so two of our own writers never
// interleave, but other programs are not stopped.
enum : uint16_t {
    fmCreate = 0xFFFF,
    // Opens the file, making it when missing, for writing at its end (and
    // for reading where allowed); every write lands at the end.
    fmAppend = 0xFFFE,
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyNone = 0x0040,
};

// A stream over one open file; owns the descriptor. Opening raises
// EFOpenError, creating EFCreateError, both naming the full path.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, uint16_t mode);
    ~TFileStream() override;

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;

    const std::string& FileName() const { return m_fileName; }
    int Handle() const { return m_fd; }
    // errno of the last failed Read, Write or Flush, 0 when none failed.
    int LastError() const { return m_lastError; }
    // Flushes the file to disk; false (and LastError set) when that fails.
    bool Flush();

    // For tests that check durability: called with the stream's file name
    // after each flush to disk that succeeded, on the flushing thread. Null
    // (the default) calls nothing.
    using TFlushObserver = void (*)(const std::string& fileName);
    static void SetFlushObserver(TFlushObserver observer);

protected:
    // Adopts a descriptor that the subclass opened.
    TFileStream(int fd, std::string fileName) : m_fileName(std::move(fileName)), m_fd(fd) {}
    // Flushes the file to disk and closes it; false (and LastError set) when
    // either fails. The stream is closed afterwards in any case.
    bool FlushAndClose();
    // Closes the file without flushing it; false (and LastError set) when
    // the close fails. The stream is closed afterwards in any case.
    bool Close();

private:
    std::string m_fileName;
    int m_fd { -1 };
    int m_lastError { 0 };
};
