#include "app/LogFile.h"

#include "toolkit/runtime/Exception.h"
#include "toolkit/runtime/TFileStream.h"
#include "toolkit/widgets/TMemo.h"

#include <cerrno>
#include <sys/stat.h>

namespace {

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

void LogFile::Load(TMemo& memo) {
    m_kept = false;
    m_inStep = false;
    m_pending.clear();
    m_endChecked = false;
    try {
        m_inStep = memo.LoadFromFile(m_fileName);
    } catch (...) {
        struct stat st {};
        const bool missing = ::stat(m_fileName.c_str(), &st) != 0 && errno == ENOENT;
        // A missing log starts empty, like the pane.
        m_inStep = missing && memo.Text().empty();
        m_kept = !missing;
        throw;
    }
}

void LogFile::Append(const TMemo& memo, const std::string& piece) {
    if (m_kept) {
        m_pending += piece;
        WritePending();
        return;
    }
    if (!m_inStep) {
        Save(memo);
        return;
    }
    // Should this fail part way, the file is no longer the pane's text: the
    // next Append writes the whole pane.
    m_inStep = false;
    TFileStream file(m_fileName, fmAppend);
    bool complete = false;
    AppendAndFlush(file, piece, complete);
    if (!complete)
        throw EWriteError();
    m_inStep = true;
}

void LogFile::Save(const TMemo& memo) {
    if (m_kept) {
        WritePending();
        return;
    }
    memo.SaveToFile(m_fileName);
    m_inStep = true;
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
}
