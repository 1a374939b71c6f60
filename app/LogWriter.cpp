#include "app/LogWriter.h"

#include "app/LogFile.h"
#include "toolkit/runtime/Exception.h"
#include "toolkit/runtime/TAtomicFileStream.h"

TLogWriter::TLogWriter(LogFile& log) : m_log(log), m_thread([this] { Run(); }) {}

TLogWriter::~TLogWriter() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void TLogWriter::Append(const std::string& piece, const std::string& pictureFolder) {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        RaiseFailure();
        m_pieces += piece;
        if (!pictureFolder.empty())
            m_folders.insert(pictureFolder);
    }
    m_changed.notify_all();
}

void TLogWriter::Drain() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failure || (m_pieces.empty() && !m_writing); });
    RaiseFailure();
}

void TLogWriter::RaiseFailure() {
    if (!m_failure || m_failureRaised)
        return;
    m_failureRaised = true;
    std::rethrow_exception(m_failure);
}

void TLogWriter::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_ending || (!m_pieces.empty() && !m_failure); });
        if (m_pieces.empty() || m_failure)
            return;
        std::string pieces;
        pieces.swap(m_pieces);
        std::set<std::string> folders;
        folders.swap(m_folders);
        m_writing = true;
        lock.unlock();
        std::exception_ptr failure;
        try {
            for (const std::string& folder : folders)
                if (!TAtomicFileStream::SyncFolder(folder))
                    throw EWriteError();
            m_log.AppendPiece(pieces);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        m_writing = false;
        m_failure = failure;
        m_changed.notify_all();
    }
}
