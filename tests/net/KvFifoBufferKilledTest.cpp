// A process killed while its receive buffer has spilled to a file leaves
// no file behind in the temporary directory.
#include "net/KvFifoBuffer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <iostream>
#include <string>

#include <csignal>
#include <unistd.h>

TEST(FifoBufferChild, DISABLED_SpillsAndWaits) {
    if (std::getenv("CHILD_SPILL") == nullptr)
        GTEST_SKIP() << "only as a child of the test below";
    TKvFifoBuffer buffer(8);
    const std::string bytes(100000, 'x');
    buffer.Append(bytes.data(), static_cast<int32_t>(bytes.size()));
    std::cout << "spilled " << buffer.TempFileName() << std::endl;
    for (;;)
        pause();
}

TEST(FifoBufferKilled, LeavesNoSpillFileBehind) {
    QTemporaryDir temp;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CHILD_SPILL", "1");
    environment.insert("TMPDIR", temp.path());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                { "--gtest_filter=FifoBufferChild.DISABLED_SpillsAndWaits",
                  "--gtest_also_run_disabled_tests" });
    ASSERT_TRUE(child.waitForStarted());
    std::string output;
    while (output.find("spilled") == std::string::npos && child.waitForReadyRead(60000))
        output += child.readAllStandardOutput().toStdString();
    ASSERT_NE(output.find("spilled " + temp.path().toStdString() + "/Buf"), std::string::npos)
        << output;
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    child.waitForFinished();
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(QDir(temp.path()).entryList({ "Buf*" }, QDir::Files | QDir::Hidden), QStringList {});
}
