#include "app/TReplacementFile.h"

#include "app/InOutError.h"
#include "toolkit/runtime/SysUtils.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

TReplacementFile::TReplacementFile(const std::string& target) : m_target(target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw InOutErrorFromErrno(EISDIR);
        if (::access(target.c_str(), W_OK) != 0)
            throw InOutErrorFromErrno(errno);
    }
    // Hidden name in the target's own directory, so the final rename stays
    // on one file system and is atomic.
    std::string pattern = ExtractFilePath(target) + "." + ExtractFileName(target) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    m_fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (m_fd < 0)
        throw InOutErrorFromErrno(errno);
    m_temporary = name.data();
    // mkostemp makes the file private; the target gets the usual mode.
    ::fchmod(m_fd, 0644);
}

TReplacementFile::~TReplacementFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed)
        ::unlink(m_temporary.c_str());
}

void TReplacementFile::Write(const void* data, size_t count) {
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t n = ::write(m_fd, bytes, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw InOutErrorFromErrno(errno);
        bytes += n;
        count -= static_cast<size_t>(n);
    }
}

void TReplacementFile::Commit() {
    // A rename without the data on disk could leave an empty target after a
    // crash, and a present target is never downloaded again.
    if (::fsync(m_fd) != 0)
        throw InOutErrorFromErrno(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        throw InOutErrorFromErrno(errno);
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        throw InOutErrorFromErrno(errno);
    m_committed = true;
}
