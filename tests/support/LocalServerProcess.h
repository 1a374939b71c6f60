#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <string>

// A server program started by a test as a child process, listening on
// 127.0.0.1, with a private temporary directory for its files. The
// destructor stops the process and removes the directory.
class LocalServerProcess {
public:
    LocalServerProcess();
    ~LocalServerProcess();
    LocalServerProcess(const LocalServerProcess&) = delete;
    LocalServerProcess& operator=(const LocalServerProcess&) = delete;

    uint16_t Port() const { return m_port; }
    // The private directory, with a trailing "/".
    std::string Directory() const;
    // The process's standard output and error so far (for failure messages).
    std::string Output();

    // A port that was free a moment ago on 127.0.0.1.
    static uint16_t FreePort();

protected:
    // Starts the program; returns once a connection to port is accepted.
    // Throws std::runtime_error with the program's output otherwise.
    void Start(const QString& program, const QStringList& arguments, uint16_t port);
    // Reads the output until a line holds text followed by a number, and
    // returns the number (0 when it does not come within the deadline).
    uint16_t WaitForNumberAfter(const std::string& text);
    void SetPort(uint16_t port) { m_port = port; }
    QProcess& Process() { return m_process; }

private:
    bool Accepts() const;

    QTemporaryDir m_directory;
    QProcess m_process;
    std::string m_output;
    uint16_t m_port { 0 };
};
