#include "tests/support/ProgramRun.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

ProgramRun RunProgramToEnd(const QString& program, const QStringList& arguments,
                           const QString& workingDirectory,
                           const std::function<void()>& childModifier) {
    QTemporaryDir runtime;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    process.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    if (childModifier)
        process.setChildProcessModifier(childModifier);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}
