#include "platform/Kernel.h"
#include "tests/support/MemAvailable.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdint>
#include <sys/stat.h>
#include <unistd.h>

TEST(Kernel, TemporaryDirectoryAndUniqueNames) {
    const QByteArray old = qgetenv("TMPDIR");
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    qputenv("TMPDIR", dir.path().toLocal8Bit());
    EXPECT_EQ(GetTempPath(), path + "/");
    qputenv("TMPDIR", "");
    EXPECT_EQ(GetTempPath(), "/tmp/");
    old.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", old);

    const std::string first = GetTempFileName(path, "Buf");
    EXPECT_NE(GetTempFileName(path + "/", "Buf"), first);
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

TEST(Kernel, ProgramFileAndMemory) {
    EXPECT_EQ(GetModuleDirectory() + "KernelTest", GetModuleFileName());

    // MemAvailable in bytes; above 4 GiB the 32-bit figure is the cap.
    uint32_t reported = 0;
    const MemAvailableSpan kernel =
        MemAvailableAround([&] { reported = GetAvailablePhysicalMemory(); });
    ASSERT_GT(kernel.Low, 0u) << "no MemAvailable in /proc/meminfo";
    if (kernel.AllAbove(0xFFFFFFFFu))
        EXPECT_EQ(reported, 0xFFFFFFFFu);
    else
        EXPECT_TRUE(kernel.Holds(reported))
            << reported << " outside " << kernel.Low << ".." << kernel.High;
}

TEST(Kernel, MemoryRangeChecks) {
    char local[16] = {};
    EXPECT_FALSE(IsBadWritePtr(local, sizeof local));
    EXPECT_FALSE(IsBadReadPtr(nullptr, 0));
    EXPECT_FALSE(IsBadWritePtr(reinterpret_cast<void*>(16), 0));
    EXPECT_TRUE(IsBadReadPtr(nullptr, 1));
    EXPECT_TRUE(IsBadWritePtr(reinterpret_cast<void*>(16), 1));
    EXPECT_TRUE(IsBadReadPtr(reinterpret_cast<void*>(0xFFFF), 1));
    EXPECT_FALSE(IsBadReadPtr(reinterpret_cast<void*>(0x10000), 1));

    SCOPED_TRACE("a range that wraps around the address space, to the last byte");
    EXPECT_TRUE(IsBadReadPtr(reinterpret_cast<void*>(UINTPTR_MAX - 3), 8));
    EXPECT_TRUE(IsBadWritePtr(reinterpret_cast<void*>(UINTPTR_MAX - 3), 5));
    EXPECT_FALSE(IsBadWritePtr(reinterpret_cast<void*>(UINTPTR_MAX - 3), 4));
    EXPECT_TRUE(IsBadReadPtr(local, SIZE_MAX));
}
