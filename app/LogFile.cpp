#include "app/LogFile.h"

#include "toolkit/runtime/Exception.h"
#include "toolkit/runtime/SysUtils.h"
#include "toolkit/runtime/TFileStream.h"
#include "toolkit/runtime/TFileTarget.h"
#include "toolkit/widgets/TMemo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// An exclusive lock on the log's folder for one load or write, so that
// copies of the program working in the same folder take turns; a lock on
// the file itself would not survive a save, which puts a new file in its
// place. Closing the descriptor releases it. A folder that cannot be opened,
// or that something holds locked for longer than any write of ours takes,
// is used without the lock rather than freezing the window.
class FolderLock {
public:
    explicit FolderLock(const std::string& fileName) {
        const std::string folder = ExtractFilePath(fileName);
        m_fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            return;
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
                return;
            if (errno != EWOULDBLOCK && errno != EINTR)
                break;
            ::usleep(kPauseMicroseconds);
        }
        ::close(m_fd);
        m_fd = -1;
    }
    ~FolderLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    static constexpr int kAttempts = 200;
    static constexpr useconds_t kPauseMicroseconds = 10000;
    int m_fd { -1 };
};

// Appends the bytes and flushes them to disk; returns how many reached the
// file. "Stream write error" when not all of them did or the flush failed.
size_t AppendAndFlush(TFileStream& file, const std::string& bytes, bool& complete) {
    const auto written =
        static_cast<size_t>(file.Write(bytes.data(), static_cast<int32_t>(bytes.size())));
    complete = written == bytes.size() && file.Flush();
    return written;
}

bool EndsWithLineEnd(TFileStream& file) {
    const int64_t size = file.Seek(0, TSeekOrigin::soEnd);
    if (size <= 0)
        return true;
    char last = 0;
    file.Seek(size - 1, TSeekOrigin::soBeginning);
    // A file we may only write to: an empty line is better than two numbers
    // run together.
    if (file.Read(&last, 1) != 1)
        return false;
    return last == '\n' || last == '\r';
}

} // namespace

std::optional<LogFile::TIdentity> LogFile::Identify(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0)
        return std::nullopt;
    return TIdentity { st.st_dev, st.st_ino, st.st_size, st.st_mtim };
}

void LogFile::Load(TMemo& memo) {
    m_kept = false;
    m_unusable = false;
    m_refusal = nullptr;
    m_refusalTold = false;
    m_inStep = false;
    m_pending.clear();
    m_endChecked = false;
    const FolderLock lock(m_fileName);
    m_identity = Identify(m_fileName);
    try {
        m_inStep = memo.LoadFromFile(m_fileName);
    } catch (...) {
        try {
            const TFileTarget target(m_fileName, TFileTarget::TDangling::CreateInSameFolder);
            // A missing log starts empty, like the pane.
            m_inStep = !target.Exists() && memo.Text().empty();
            m_kept = target.Exists();
        } catch (const EFCreateError&) {
            m_unusable = true;
            m_refusal = std::current_exception();
        }
        throw;
    }
}

void LogFile::NoticeOtherWriters() {
    if (m_kept)
        return;
    const std::optional<TIdentity> now = Identify(m_fileName);
    // A file gone missing holds nothing of anybody's to lose.
    if (!now)
        return;
    const bool same = m_identity && now->Device == m_identity->Device &&
                      now->Inode == m_identity->Inode && now->Size == m_identity->Size &&
                      now->Modified.tv_sec == m_identity->Modified.tv_sec &&
                      now->Modified.tv_nsec == m_identity->Modified.tv_nsec;
    if (same)
        return;
    m_kept = true;
    m_inStep = false;
    m_endChecked = false;
}

void LogFile::Append(const TMemo& memo, const std::string& piece) {
    Write(&memo, piece);
}

void LogFile::AppendPiece(const std::string& piece) {
    Write(nullptr, piece);
}

void LogFile::MakeAppendable(const TMemo& memo) {
    if (m_unusable || m_kept || m_inStep)
        return;
    const FolderLock lock(m_fileName);
    NoticeOtherWriters();
    if (m_kept)
        return;
    memo.SaveToFile(m_fileName);
    m_inStep = true;
    m_identity = Identify(m_fileName);
}

void LogFile::Write(const TMemo* memo, const std::string& piece) {
    if (m_unusable)
        return;
    const FolderLock lock(m_fileName);
    NoticeOtherWriters();
    try {
        if (m_kept) {
            m_pending += piece;
            WritePending();
            return;
        }
        if (!m_inStep) {
            // Without the pane (an earlier append failed part way) this
            // waits for Save, which writes the whole pane.
            if (!memo)
                throw EWriteError();
            memo->SaveToFile(m_fileName);
            m_inStep = true;
            m_identity = Identify(m_fileName);
            return;
        }
        // Should this fail part way, the file is no longer the pane's text:
        // the next Append writes the whole pane.
        m_inStep = false;
        TFileStream file(m_fileName, fmAppend);
        const int64_t whole = file.Seek(0, TSeekOrigin::soEnd);
        bool complete = false;
        if (AppendAndFlush(file, piece, complete) > 0 && !complete) {
            // The start of a line whose rest a full disk refused would be
            // read back as a number of its own: the file goes back to its
            // last whole line, and is known as our own doing, not another
            // copy's.
            file.SetSize(whole);
            m_identity = Identify(m_fileName);
        }
        if (!complete)
            throw EWriteError();
        m_inStep = true;
        m_identity = Identify(m_fileName);
    } catch (const ENotRegularFile&) {
        // Told now, by the error that ends the run.
        m_unusable = true;
        m_refusalTold = true;
        throw;
    }
}

void LogFile::Save(const TMemo& memo) {
    if (m_unusable) {
        if (m_refusalTold)
            return;
        m_refusalTold = true;
        std::rethrow_exception(m_refusal);
    }
    const FolderLock lock(m_fileName);
    NoticeOtherWriters();
    if (m_kept) {
        WritePending();
        return;
    }
    memo.SaveToFile(m_fileName);
    m_inStep = true;
    m_identity = Identify(m_fileName);
}

void LogFile::WritePending() {
    if (m_pending.empty())
        return;
    TFileStream file(m_fileName, fmAppend);
    if (!m_endChecked) {
        if (!EndsWithLineEnd(file))
            m_pending.insert(0, "\r\n");
        m_endChecked = true;
    }
    bool complete = false;
    // Bytes that reached the file are not written twice.
    m_pending.erase(0, AppendAndFlush(file, m_pending, complete));
    if (!complete)
        throw EWriteError();
    m_identity = Identify(m_fileName);
}
