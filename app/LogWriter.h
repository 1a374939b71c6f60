#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class LogFile;

// Makes the logged numbers durable on a thread of its own, so that the run
// does not wait for the disk: for each batch of numbers it first flushes the
// folders whose new picture files were put in place without a sync (their
// content was flushed before), then appends the numbers to the log and
// flushes it. A number thus reaches the log on disk only after its picture,
// and the log on disk trails the pane by the numbers logged while the
// previous batch was being flushed.
//
// While the writer exists the log is its thread's alone: the owner calls
// nothing of the LogFile until Drain has returned or the writer is gone.
// A failure stops the writing; it is raised by the next Append or Drain, and
// what was not written stays in the pane for the log's next Save.
class TLogWriter {
public:
    // `log` must already append without the pane (LogFile::MakeAppendable).
    explicit TLogWriter(LogFile& log);
    // Writes what is queued, then ends the thread; a failure is dropped (the
    // pane keeps the numbers for the next Save).
    ~TLogWriter();
    TLogWriter(const TLogWriter&) = delete;
    TLogWriter& operator=(const TLogWriter&) = delete;

    // Queues a piece of the pane (LogFile::AppendPiece), after the new files
    // in `pictureFolder` ("" for none) are on disk.
    void Append(const std::string& piece, const std::string& pictureFolder);
    // Waits until everything queued is on disk; raises the failure, if any.
    void Drain();

private:
    void Run();
    void RaiseFailure();

    LogFile& m_log;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_pieces;
    std::set<std::string> m_folders;
    bool m_writing { false };
    bool m_ending { false };
    std::exception_ptr m_failure;
    // Raised already: the run it ended has told it.
    bool m_failureRaised { false };
    // Last: started once everything above exists.
    std::thread m_thread;
};
