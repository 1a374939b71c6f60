#include "toolkit/runtime/TFileTarget.h"

#include "toolkit/runtime/Exception.h"
#include "toolkit/runtime/SysUtils.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kMaxLinkHops = 40;

// The file a chain of symbolic links ends at, or the name itself when it is
// no link. A link's relative content counts from the link's own folder. A
// loop ends after as many hops as the kernel allows; the entry found then is
// itself a link, which the constructor refuses as a plain open would.
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

std::string FolderOf(const std::string& name) {
    const std::string folder = ExtractFilePath(name);
    return folder.empty() ? std::string(".") : folder;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

TFileTarget::TFileTarget(const std::string& name, TDangling dangling)
    : m_name(name), m_path(FollowLinks(name)), m_entry(ExtractFileName(m_path)) {
    m_folder = ::open(FolderOf(m_path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0)
        throw EFCreateError(name, errno);
    m_exists = ::fstatat(m_folder, m_entry.c_str(), &m_status, AT_SYMLINK_NOFOLLOW) == 0;
    if (!m_exists && errno != ENOENT) {
        const int error = errno;
        ::close(m_folder);
        throw EFCreateError(name, error);
    }
    try {
        if (m_exists)
            CheckReplaceable();
        else if (m_path != name) {
            struct stat own {};
            struct stat folder {};
            const bool beside = dangling == TDangling::CreateInSameFolder &&
                                ::stat(FolderOf(name).c_str(), &own) == 0 &&
                                ::fstat(m_folder, &folder) == 0 && SameFile(own, folder);
            if (!beside)
                throw ENotRegularFile(name, TNotRegularReason::DanglingLink);
        }
    } catch (...) {
        ::close(m_folder);
        throw;
    }
}

TFileTarget::~TFileTarget() {
    if (m_folder >= 0)
        ::close(m_folder);
}

TFileTarget::TFileTarget(TFileTarget&& other) noexcept
    : m_name(std::move(other.m_name)), m_path(std::move(other.m_path)),
      m_entry(std::move(other.m_entry)), m_folder(other.m_folder), m_exists(other.m_exists),
      m_status(other.m_status) {
    other.m_folder = -1;
}

void TFileTarget::CheckReplaceable() const {
    struct stat now {};
    if (::fstatat(m_folder, m_entry.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (S_ISDIR(now.st_mode))
        throw EFCreateError(m_name, EISDIR);
    // A link here is a loop the constructor gave up on, or one swapped in
    // since: either way it is not followed.
    if (S_ISLNK(now.st_mode))
        throw EFCreateError(m_name, ELOOP);
    if (!S_ISREG(now.st_mode))
        throw ENotRegularFile(m_name, TNotRegularReason::NotRegular);
}

int TFileTarget::Open(int flags, mode_t mode) const {
    const int fd = ::openat(m_folder, m_entry.c_str(),
                            flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) {
        // A FIFO without a reader, or a link swapped in: not a file to write.
        if (errno == ENXIO || errno == ELOOP)
            throw ENotRegularFile(m_name, TNotRegularReason::NotRegular);
        return -1;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        throw ENotRegularFile(m_name, TNotRegularReason::NotRegular);
    }
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}
