#include "toolkit/runtime/TAtomicFileStream.h"

#include "toolkit/runtime/Exception.h"
#include "toolkit/runtime/SysUtils.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<unsigned> g_temporaryCounter { 0 };

constexpr int kMaxLinkHops = 40;

// The file a chain of symbolic links ends at, or the name itself when it is
// no link. A link's relative content counts from the link's own folder. A
// loop ends after as many hops as the kernel allows, and the open then fails
// as a plain one would.
std::string FollowLinks(const std::string& name) {
    std::string current = name;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        char content[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), content, sizeof content);
        if (n <= 0 || static_cast<size_t>(n) == sizeof content)
            return current;
        std::string next = content[0] == '/' ? std::string() : ExtractFilePath(current);
        next.append(content, static_cast<size_t>(n));
        current = std::move(next);
    }
    return current;
}

std::string HiddenName(const std::string& file) {
    return ExtractFilePath(file) + "." + ExtractFileName(file) + "." + std::to_string(::getpid()) +
           "-" + std::to_string(g_temporaryCounter++) + ".tmp";
}

// Creating files in the folder is not allowed; rewriting the file in place
// may still be.
bool FolderRefuses(int error) {
    return error == EACCES || error == EPERM;
}

// Linking an unnamed file needs its /proc entry.
bool CanLinkUnnamed() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

// The pid in a name ".<file>.<pid>-<n>.tmp", or 0 when it is no such name.
pid_t TemporaryOwner(const std::string& name) {
    const std::string suffix = ".tmp";
    if (name.size() < 2 + suffix.size() || name.front() != '.' ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return 0;
    const std::string stem = name.substr(0, name.size() - suffix.size());
    const size_t dot = stem.rfind('.');
    const size_t dash = stem.rfind('-');
    if (dot == std::string::npos || dot == 0 || dash == std::string::npos || dash < dot + 2 ||
        dash + 1 == stem.size())
        return 0;
    for (size_t i = dot + 1; i < stem.size(); ++i)
        if (i != dash && (stem[i] < '0' || stem[i] > '9'))
            return 0;
    const long pid = std::strtol(stem.c_str() + dot + 1, nullptr, 10);
    return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

} // namespace

TAtomicFileStream::Temporary TAtomicFileStream::CreateTemporary(const std::string& target) {
    const std::string file = FollowLinks(target);
    struct stat existing {};
    const bool replaces = ::stat(file.c_str(), &existing) == 0;
    // A directory could only fail the final step, after all the writing.
    if (replaces && S_ISDIR(existing.st_mode))
        throw EFCreateError(target, EISDIR);
    int writable = -1;
    if (replaces) {
        // Opening for writing (never truncating) asks the same question a
        // plain create would, with the caller's effective rights.
        writable = ::open(file.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (writable < 0 && errno != ENXIO)
            throw EFCreateError(target, errno);
    }
    struct Closer {
        int& fd;
        ~Closer() {
            if (fd >= 0)
                ::close(fd);
        }
    } closeWritable { writable };
    const auto inPlace = [&]() -> Temporary {
        // A FIFO or device (ENXIO above) has nothing to rewrite.
        if (writable < 0 || !S_ISREG(existing.st_mode))
            throw EFCreateError(target, EACCES);
        const int flags = ::fcntl(writable, F_GETFL);
        (void)::fcntl(writable, F_SETFL, flags & ~O_NONBLOCK);
        const int fd = writable;
        writable = -1;
        return { fd, file, Kind::InPlace, file };
    };
    // Another name for the same file would keep the old content.
    if (replaces && S_ISREG(existing.st_mode) && existing.st_nlink > 1)
        return inPlace();

    // Beside the file, so that putting it in place never crosses file
    // systems. 0666 lets the umask decide the mode, as for any new file.
    std::string directory = ExtractFilePath(file);
    if (directory.empty())
        directory.assign(1, '.');
    if (CanLinkUnnamed()) {
        const int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (replaces)
                (void)::fchmod(fd, existing.st_mode & 07777);
            return { fd, std::string(), Kind::Unnamed, file };
        }
        if (FolderRefuses(errno) && replaces)
            return inPlace();
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = HiddenName(file);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (replaces)
                (void)::fchmod(fd, existing.st_mode & 07777);
            return { fd, std::move(name), Kind::Named, file };
        }
        if (FolderRefuses(errno) && replaces)
            return inPlace();
        if (errno != EEXIST)
            break;
    }
    throw EFCreateError(target, errno);
}

TAtomicFileStream::TAtomicFileStream(const std::string& fileName)
    : TAtomicFileStream(fileName, CreateTemporary(fileName)) {}

TAtomicFileStream::TAtomicFileStream(const std::string& fileName, Temporary temporary)
    : TFileStream(temporary.fd, std::move(temporary.name)), m_target(fileName),
      m_file(std::move(temporary.file)), m_kind(temporary.kind) {}

TAtomicFileStream::~TAtomicFileStream() {
    if (!m_committed && m_kind == Kind::Named)
        ::unlink(FileName().c_str());
}

void TAtomicFileStream::LinkUnnamed() {
    const std::string self = "/proc/self/fd/" + std::to_string(Handle());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_file.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return;
    if (errno != EEXIST)
        throw EFCreateError(m_target, errno);
    // A name can only be given to a free place: link under a hidden name and
    // rename that over the old file, which replaces it in one step.
    std::string hidden;
    for (int attempt = 0; attempt < 100; ++attempt) {
        hidden = HiddenName(m_file);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0)
            break;
        if (errno != EEXIST)
            throw EFCreateError(m_target, errno);
        hidden.clear();
    }
    if (hidden.empty())
        throw EFCreateError(m_target, EEXIST);
    if (::rename(hidden.c_str(), m_file.c_str()) != 0) {
        const int error = errno;
        ::unlink(hidden.c_str());
        throw EFCreateError(m_target, error);
    }
}

void TAtomicFileStream::Commit() {
    // Without the flush a crash soon after the file is put in place could
    // leave an empty file on disk in place of the old one.
    switch (m_kind) {
    case Kind::Unnamed:
        if (!Flush())
            throw EWriteError();
        LinkUnnamed();
        if (!FlushAndClose())
            throw EWriteError();
        break;
    case Kind::Named:
        if (!FlushAndClose())
            throw EWriteError();
        if (::rename(FileName().c_str(), m_file.c_str()) != 0)
            throw EFCreateError(m_target, errno);
        break;
    case Kind::InPlace:
        SetSize(Position());
        if (!FlushAndClose())
            throw EWriteError();
        break;
    }
    m_committed = true;
}

void TAtomicFileStream::RemoveStaleTemporaries(const std::string& directory) {
    const std::string path = directory.empty() ? std::string(".") : directory;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(path.c_str()), ::closedir);
    if (!listing)
        return;
    const std::string prefix = directory.empty() ? std::string() : directory;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        const pid_t owner = TemporaryOwner(name);
        // Only a process that is surely gone: a live one, ours or another
        // user's (EPERM), may still be writing.
        if (owner == 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH)
            continue;
        ::unlink((prefix + name).c_str());
    }
}
