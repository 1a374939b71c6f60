#pragma once

#include <ctime>
#include <exception>
#include <optional>
#include <string>

#include <sys/types.h>

class TMemo;

// The log file ("log.log") kept in step with the log pane, so that no
// number the pane shows is lost to a crash or to a log we could not read.
//
// - Every line added to the pane reaches the file's end and the disk before
//   Append returns (when the file's bytes were not the pane's text, the
//   first Append writes the whole pane instead).
// - A file that exists but could not be loaded (too large for the pane,
//   unreadable) is never truncated or replaced: the lines of this run are
//   appended after its old bytes, on a line of their own, and Save then only
//   writes what an earlier failed Append could not.
// - Otherwise Save writes the pane's whole text (TMemo::SaveToFile).
// - No copy of the program removes a line another copy wrote: every load and
//   write holds an exclusive lock on the log's folder, and a file that
//   changed since this copy last read or wrote it (another copy appended,
//   or replaced it) is from then on only appended to, as a kept file is.
// - A name that leads to no regular file (a directory, a FIFO, a device, a
//   socket, a link to a missing file in another folder) is never written:
//   Load raises its error, appends are skipped (the pane still shows the
//   numbers), and the first Save raises once why the log cannot be saved
//   (the save's error for that name); later ones are quiet, so the window
//   can close.
// The name is resolved against the current directory at each use. Failures
// raise the file errors of TMemo::SaveToFile; what could not be appended is
// tried again at the next Append or Save.
class LogFile {
public:
    explicit LogFile(std::string fileName) : m_fileName(std::move(fileName)) {}

    void Load(TMemo& memo);
    // `piece` is what the pane's AddLine just added.
    void Append(const TMemo& memo, const std::string& piece);
    // Append for a caller without the pane (another thread): only once
    // MakeAppendable has made the file the pane's text, or the file is kept
    // or unusable; "Stream write error" when the whole pane would be needed.
    void AppendPiece(const std::string& piece);
    // Writes the whole pane now when the first Append would (the file's
    // bytes were not the pane's text), so that appends need no pane.
    void MakeAppendable(const TMemo& memo);
    void Save(const TMemo& memo);

    // The file existed but could not be loaded, so it is only appended to.
    bool KeptAsItWas() const { return m_kept; }
    // The name leads to no regular file, so nothing is written to it.
    bool Unusable() const { return m_unusable; }

private:
    // What identifies the file's content as this copy last left it.
    struct TIdentity {
        dev_t Device;
        ino_t Inode;
        off_t Size;
        timespec Modified;
    };
    static std::optional<TIdentity> Identify(const std::string& fileName);
    // Called with the folder locked: turns to appending only when the file
    // is no longer what this copy last left.
    void NoticeOtherWriters();
    void Write(const TMemo* memo, const std::string& piece);
    void WritePending();

    std::string m_fileName;
    bool m_kept { false };
    bool m_unusable { false };
    // Why it is unusable, raised by the first Save.
    std::exception_ptr m_refusal;
    bool m_refusalTold { false };
    // The file holds exactly the pane's text, so appending keeps it so.
    bool m_inStep { false };
    // Kept file: bytes still to append, and whether its end was looked at.
    std::string m_pending;
    bool m_endChecked { false };
    // The file as this copy last read or wrote it; none when it was missing.
    std::optional<TIdentity> m_identity;
};
