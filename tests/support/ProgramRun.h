#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <string>

// What a program that a test ran to its end left behind.
struct ProgramRun {
    // -1 when it crashed or did not end within a minute (it is then killed).
    int exitCode { -1 };
    std::string out;
    std::string err;
};

// Runs a program in workingDirectory (the test's own when empty). Qt
// programs get a private XDG_RUNTIME_DIR, as they would otherwise complain
// on standard error. childModifier, when given, runs in the child between
// fork and exec.
ProgramRun RunProgramToEnd(const QString& program, const QStringList& arguments,
                           const QString& workingDirectory = QString(),
                           const std::function<void()>& childModifier = {});
