#pragma once

#include <string>

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
// The name is resolved against the current directory at each use. Failures
// raise the file errors of TMemo::SaveToFile; what could not be appended is
// tried again at the next Append or Save.
class LogFile {
public:
    explicit LogFile(std::string fileName) : m_fileName(std::move(fileName)) {}

    void Load(TMemo& memo);
    // `piece` is what the pane's AddLine just added.
    void Append(const TMemo& memo, const std::string& piece);
    void Save(const TMemo& memo);

    // The file existed but could not be loaded, so it is only appended to.
    bool KeptAsItWas() const { return m_kept; }

private:
    void WritePending();

    std::string m_fileName;
    bool m_kept { false };
    // The file holds exactly the pane's text, so appending keeps it so.
    bool m_inStep { false };
    // Kept file: bytes still to append, and whether its end was looked at.
    std::string m_pending;
    bool m_endChecked { false };
};
