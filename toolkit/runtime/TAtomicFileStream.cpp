#include "toolkit/runtime/TAtomicFileStream.h"

#include "toolkit/runtime/Exception.h"
#include "toolkit/runtime/SysUtils.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<unsigned> g_temporaryCounter { 0 };

} // namespace

TAtomicFileStream::Temporary TAtomicFileStream::CreateTemporary(const std::string& target) {
    struct stat existing {};
    const bool replaces = ::stat(target.c_str(), &existing) == 0;
    // A directory could only fail the final rename, after all the writing.
    if (replaces && S_ISDIR(existing.st_mode))
        throw EFCreateError(target, EISDIR);
    if (replaces) {
        // Opening for writing (never truncating) asks the same question a
        // plain create would, with the caller's effective rights.
        const int probe = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (probe < 0 && errno != ENXIO)
            throw EFCreateError(target, errno);
        if (probe >= 0)
            ::close(probe);
    }

    // A hidden name in the target's directory, so the rename never crosses
    // file systems. O_EXCL with 0666 lets the umask decide the mode, as for
    // any newly created file.
    const std::string base = ExtractFilePath(target) + "." + ExtractFileName(target) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name =
            base + std::to_string(::getpid()) + "-" + std::to_string(g_temporaryCounter++) + ".tmp";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (replaces)
                (void)::fchmod(fd, existing.st_mode & 07777);
            return { fd, std::move(name) };
        }
        if (errno != EEXIST)
            break;
    }
    throw EFCreateError(target, errno);
}

TAtomicFileStream::TAtomicFileStream(const std::string& fileName)
    : TAtomicFileStream(fileName, CreateTemporary(fileName)) {}

TAtomicFileStream::TAtomicFileStream(const std::string& fileName, Temporary temporary)
    : TFileStream(temporary.fd, std::move(temporary.name)), m_target(fileName) {}

TAtomicFileStream::~TAtomicFileStream() {
    if (!m_committed)
        ::unlink(FileName().c_str());
}

void TAtomicFileStream::Commit() {
    // Without the flush a crash soon after the rename could leave an empty
    // file on disk in place of the old one.
    if (!FlushAndClose())
        throw EWriteError();
    if (::rename(FileName().c_str(), m_target.c_str()) != 0)
        throw EFCreateError(m_target, errno);
    m_committed = true;
}
