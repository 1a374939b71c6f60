#include "platform/Kernel.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

TEST(Kernel, TemporaryDirectoryAndUniqueNames) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString();

    setenv("TMPDIR", path.c_str(), 1);
    EXPECT_EQ(GetTempPath(), path + "/");
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(GetTempPath(), "/tmp/");
    unsetenv("TMPDIR");
    EXPECT_EQ(GetTempPath(), "/tmp/");
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);

    const std::string first = GetTempFileName(path, "Buf");
    const std::string second = GetTempFileName(path + "/", "Buf");
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(path + "/Buf", 0), 0u);
    struct stat st {};
    ASSERT_EQ(stat(first.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);

    try {
        GetTempFileName(path + "/missing", "Buf");
        ADD_FAILURE() << "no error";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode, ENOENT);
        EXPECT_EQ(e.Message(), "System Error.  Code: 2.\nNo such file or directory");
    }
}

TEST(Kernel, ProgramFileMemoryAndSleep) {
    const std::string program = GetModuleFileName();
    EXPECT_EQ(program.substr(program.rfind('/') + 1), "KernelTest");
    EXPECT_EQ(GetModuleDirectory() + "KernelTest", program);
    EXPECT_GT(GetAvailablePhysicalMemory(), 0u);
    Sleep(1);
}

TEST(Kernel, MemoryRangeChecks) {
    char local[16] = {};
    EXPECT_FALSE(IsBadReadPtr(local, sizeof local));
    EXPECT_FALSE(IsBadWritePtr(local, sizeof local));
    EXPECT_FALSE(IsBadReadPtr(nullptr, 0));
    EXPECT_TRUE(IsBadReadPtr(nullptr, 1));
    EXPECT_TRUE(IsBadWritePtr(reinterpret_cast<void*>(16), 1));
    EXPECT_TRUE(IsBadReadPtr(reinterpret_cast<void*>(UINTPTR_MAX - 3), 8));
    EXPECT_TRUE(IsBadReadPtr(local, SIZE_MAX));
}
