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
// For tests: the fallback of file systems without unnamed files.
std::atomic<bool> g_namedTemporariesOnly { false };

// A hidden name beside the entry, in the same folder.
std::string HiddenName(const std::string& entry) {
    return "." + entry + "." + std::to_string(::getpid()) + "-" +
           std::to_string(g_temporaryCounter++) + ".tmp";
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

TAtomicFileStream::Temporary TAtomicFileStream::CreateTemporary(const TFileTarget& place) {
    const std::string& target = place.Name();
    const bool replaces = place.Exists();
    const struct stat& existing = place.Status();
    int writable = -1;
    if (replaces) {
        // Opening for writing (never truncating) asks the same question a
        // plain create would, with the caller's effective rights; what it
        // opens is checked to be a regular file.
        writable = place.Open(O_WRONLY);
        if (writable < 0)
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
        if (writable < 0)
            throw EFCreateError(target, EACCES);
        const int fd = writable;
        writable = -1;
        return { fd, std::string(), Kind::InPlace };
    };
    // Another name for the same file would keep the old content.
    if (replaces && existing.st_nlink > 1)
        return inPlace();

    // Beside the file, so that putting it in place never crosses file
    // systems. 0666 lets the umask decide the mode, as for any new file.
    if (CanLinkUnnamed() && !g_namedTemporariesOnly) {
        const int fd = ::openat(place.Folder(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (replaces)
                (void)::fchmod(fd, existing.st_mode & 07777);
            return { fd, std::string(), Kind::Unnamed };
        }
        if (FolderRefuses(errno) && replaces)
            return inPlace();
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = HiddenName(place.Entry());
        const int fd = ::openat(place.Folder(), name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (replaces)
                (void)::fchmod(fd, existing.st_mode & 07777);
            return { fd, std::move(name), Kind::Named };
        }
        if (FolderRefuses(errno) && replaces)
            return inPlace();
        if (errno != EEXIST)
            break;
    }
    throw EFCreateError(target, errno);
}

TAtomicFileStream::TAtomicFileStream(const std::string& fileName, TFileTarget::TDangling dangling)
    : TAtomicFileStream(TFileTarget(fileName, dangling)) {}

TAtomicFileStream::TAtomicFileStream(TFileTarget place)
    : TAtomicFileStream(std::move(place), CreateTemporary(place)) {}

TAtomicFileStream::TAtomicFileStream(TFileTarget&& place, Temporary temporary)
    : TFileStream(temporary.fd, place.Path()), m_place(std::move(place)),
      m_hidden(std::move(temporary.hidden)), m_kind(temporary.kind) {}

TAtomicFileStream::~TAtomicFileStream() {
    if (!m_committed && m_kind == Kind::Named)
        ::unlinkat(m_place.Folder(), m_hidden.c_str(), 0);
}

void TAtomicFileStream::PutInPlace(const std::string& hidden) {
    // What is there now must still be ours to replace; the rename itself
    // replaces only the folder's entry, never writes through it.
    try {
        m_place.CheckReplaceable();
        if (::renameat(m_place.Folder(), hidden.c_str(), m_place.Folder(),
                       m_place.Entry().c_str()) != 0)
            throw EFCreateError(m_place.Name(), errno);
    } catch (...) {
        ::unlinkat(m_place.Folder(), hidden.c_str(), 0);
        throw;
    }
}

void TAtomicFileStream::LinkUnnamed() {
    const std::string self = "/proc/self/fd/" + std::to_string(Handle());
    if (::linkat(AT_FDCWD, self.c_str(), m_place.Folder(), m_place.Entry().c_str(),
                 AT_SYMLINK_FOLLOW) == 0)
        return;
    if (errno != EEXIST)
        throw EFCreateError(m_place.Name(), errno);
    // A name can only be given to a free place: link under a hidden name and
    // rename that over the old file, which replaces it in one step.
    std::string hidden;
    for (int attempt = 0; attempt < 100; ++attempt) {
        hidden = HiddenName(m_place.Entry());
        if (::linkat(AT_FDCWD, self.c_str(), m_place.Folder(), hidden.c_str(), AT_SYMLINK_FOLLOW) ==
            0)
            break;
        if (errno != EEXIST)
            throw EFCreateError(m_place.Name(), errno);
        hidden.clear();
    }
    if (hidden.empty())
        throw EFCreateError(m_place.Name(), EEXIST);
    PutInPlace(hidden);
}

void TAtomicFileStream::Commit() {
    Commit(true);
}

void TAtomicFileStream::CommitWithoutSync() {
    Commit(false);
}

bool TAtomicFileStream::SyncFolder(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

void TAtomicFileStream::Commit(bool sync) {
    // Without the flush a crash soon after the file is put in place could
    // leave an empty file on disk in place of the old one.
    switch (m_kind) {
    case Kind::Unnamed:
        if (sync && !Flush())
            throw EWriteError();
        LinkUnnamed();
        if (!(sync ? FlushAndClose() : Close()))
            throw EWriteError();
        break;
    case Kind::Named:
        if (!(sync ? FlushAndClose() : Close()))
            throw EWriteError();
        PutInPlace(m_hidden);
        break;
    case Kind::InPlace:
        SetSize(Position());
        if (!FlushAndClose())
            throw EWriteError();
        break;
    }
    m_committed = true;
}

void TAtomicFileStream::UseNamedTemporariesOnly(bool on) {
    g_namedTemporariesOnly = on;
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
