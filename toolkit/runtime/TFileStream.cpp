#include "toolkit/runtime/TFileStream.h"

#include "toolkit/runtime/Exception.h"
#include "toolkit/runtime/TFileTarget.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : m_fileName(fileName) {
    if (mode == fmCreate) {
        m_fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_fd < 0)
            throw EFCreateError(fileName, errno);
        return;
    }
    if (mode == fmAppend) {
        // Only a regular file is appended to, and a link to a missing file
        // makes it only beside the link (TFileTarget).
        const TFileTarget target(fileName, TFileTarget::TDangling::CreateInSameFolder);
        m_fd = target.Open(O_RDWR | O_APPEND | O_CREAT);
        if (m_fd < 0 && errno == EACCES)
            m_fd = target.Open(O_WRONLY | O_APPEND | O_CREAT);
        if (m_fd < 0)
            throw EFCreateError(fileName, errno);
        return;
    }
    int flags = O_RDONLY;
    if ((mode & 3) == fmOpenWrite)
        flags = O_WRONLY;
    else if ((mode & 3) == fmOpenReadWrite)
        flags = O_RDWR;
    // Never blocks on a FIFO or a device: what was opened is looked at first.
    m_fd = ::open(fileName.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        throw EFOpenError(fileName, errno);
    // Linux lets a directory be opened for reading; a file stream over one
    // would only fail later with a less useful error, and a FIFO or device
    // could block or never end.
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool directory = S_ISDIR(st.st_mode);
        ::close(m_fd);
        m_fd = -1;
        if (directory)
            throw EFOpenError(fileName, EISDIR);
        throw EFOpenNotRegular(fileName);
    }
    (void)::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
    if ((mode & 0xF0) == fmShareExclusive || (mode & 0xF0) == fmShareDenyWrite) {
        // Advisory only; a failure to lock does not stop the open.
        (void)::flock(m_fd, ((mode & 0xF0) == fmShareExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    }
}

TFileStream::~TFileStream() {
    if (m_fd >= 0)
        ::close(m_fd);
}

namespace {

std::atomic<TFileStream::TFlushObserver> g_flushObserver { nullptr };

} // namespace

void TFileStream::SetFlushObserver(TFlushObserver observer) {
    g_flushObserver = observer;
}

bool TFileStream::Flush() {
    if (m_fd < 0)
        return false;
    if (::fsync(m_fd) == 0) {
        if (const TFlushObserver observer = g_flushObserver)
            observer(m_fileName);
        return true;
    }
    m_lastError = errno;
    return false;
}

bool TFileStream::FlushAndClose() {
    if (m_fd < 0)
        return false;
    const bool flushed = Flush();
    return Close() && flushed;
}

bool TFileStream::Close() {
    if (m_fd < 0)
        return false;
    const bool closed = ::close(m_fd) == 0;
    if (!closed && m_lastError == 0)
        m_lastError = errno;
    m_fd = -1;
    return closed;
}

namespace {

// Repeats a read or write of count bytes until all are done, the call makes
// no progress (end of file) or fails; a failure's errno is kept in lastError.
// Returns the bytes done.
template <typename Call> int32_t Repeat(int32_t count, int& lastError, Call call) {
    int32_t done = 0;
    while (done < count) {
        const ssize_t n = call(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            lastError = errno;
        if (n <= 0)
            break;
        done += static_cast<int32_t>(n);
    }
    return done;
}

} // namespace

int32_t TFileStream::Read(void* buffer, int32_t count) {
    return Repeat(count, m_lastError, [&](int32_t done) {
        return ::read(m_fd, static_cast<char*>(buffer) + done, count - done);
    });
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
    return Repeat(count, m_lastError, [&](int32_t done) {
        return ::write(m_fd, static_cast<const char*>(buffer) + done, count - done);
    });
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    return ::lseek(m_fd, offset, whence);
}

void TFileStream::SetSize(int64_t size) {
    if (::ftruncate(m_fd, size) != 0)
        throw EWriteError();
    if (Position() > size)
        Seek(size, TSeekOrigin::soBeginning);
}
