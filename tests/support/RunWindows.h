#pragma once

#include "toolkit/widgets/TApplication.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

// The program's main window and viewer, made as the program makes them, in a
// temporary current directory (for "log.log", which starts empty) and with
// the error box replaced by a recorder of its texts. The download-run tests
// and the whole-run benchmark share it; each sets what else it needs (the
// site, the retry waits) before it shows Form1.
class RunWindows {
public:
    RunWindows() = default;
    ~RunWindows() { Close(); }
    RunWindows(const RunWindows&) = delete;
    RunWindows& operator=(const RunWindows&) = delete;

    // Makes the windows, not shown yet; their pictures go to
    // pictureDirectory.
    void Open(const std::string& pictureDirectory);
    // Destroys the windows and goes back to the former current directory;
    // later calls do nothing.
    void Close();

    // The texts the error box was given, in order.
    const std::vector<std::string>& Errors() const { return m_errors; }

protected:
    QTemporaryDir m_dir;
    QString m_oldDirectory;
    std::unique_ptr<TApplication> m_application;
    std::vector<std::string> m_errors;
};
