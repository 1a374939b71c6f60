#include "toolkit/widgets/TMemo.h"
#include "tests/support/FileSizeLimit.h"
#include "toolkit/runtime/Exception.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

std::string AllBytes() {
    std::string bytes;
    for (int c = 1; c < 256; ++c)
        if (c != '\r' && c != '\n')
            bytes += static_cast<char>(c);
    return bytes;
}

void WriteFile(const std::string& name, const std::string& bytes) {
    QFile file(QString::fromStdString(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string ReadFile(const std::string& name) {
    QFile file(QString::fromStdString(name));
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

QStringList DirectoryEntries(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(TMemo, HoldsEveryByteAndEndsAtNul) {
    TMemo memo;
    const std::string text = AllBytes() + "\r\nline two";
    memo.SetText(text);
    EXPECT_EQ(memo.Text(), text);
    EXPECT_EQ(memo.document()->blockCount(), 2) << "CR LF shows as a line break";

    memo.SetText(std::string("12\r\n3\0"
                             "45",
                             7));
    EXPECT_EQ(memo.Text(), "12\r\n3");
    EXPECT_TRUE(memo.isReadOnly());
}

TEST(TMemo, AddLineKeepsTheTextsLineEndHabit) {
    TMemo memo;
    memo.AddLine("200");
    memo.AddLine("201");
    EXPECT_EQ(memo.Text(), "200\r\n201\r\n") << "from empty, each line is followed by CR LF";

    memo.SetText("200\r\n201");
    memo.AddLine("202");
    memo.AddLine("203");
    EXPECT_EQ(memo.Text(), "200\r\n201\r\n202\r\n203") << "without a final line end it stays so";
    EXPECT_EQ(memo.toPlainText(), "200\n201\n202\n203");

    memo.SetText("200\r\n\r\n");
    memo.AddLine("1");
    EXPECT_EQ(memo.Text(), "200\r\n\r\n1\r\n");
}

TEST(TMemo, CapacityOverflowRaisesAndKeepsTheText) {
    TMemo memo;
    EXPECT_EQ(memo.Capacity(), TMemo::DefaultCapacity);
    memo.SetCapacity(10);
    memo.SetText("0123456789");
    try {
        memo.SetText("0123456789A");
        FAIL() << "no error";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), "Text exceeds memo capacity");
    }
    EXPECT_EQ(memo.Text(), "0123456789");
    // A NUL ends the text before the capacity is measured.
    memo.SetText(std::string("abc\0"
                             "0123456789",
                             14));
    EXPECT_EQ(memo.Text(), "abc");
    memo.AddLine("12345");
    EXPECT_EQ(memo.Text(), "abc\r\n12345");
    EXPECT_THROW(memo.AddLine("x"), EInvalidOperation);
    EXPECT_EQ(memo.Text(), "abc\r\n12345");
}

TEST(TMemo, LoadAdjustsLineEndsAndStopsAtNulOrCapacity) {
    QTemporaryDir dir;
    const std::string name = dir.filePath("log.log").toStdString();
    TMemo memo;

    WriteFile(name, "1\n2\r3\r\n4\n\r5");
    memo.LoadFromFile(name);
    EXPECT_EQ(memo.Text(), "1\r\n2\r\n3\r\n4\r\n\r\n5");

    std::string withNul = "7\n8";
    withNul += '\0';
    withNul += std::string(200000, '9');
    WriteFile(name, withNul);
    memo.SetCapacity(100);
    memo.LoadFromFile(name);
    EXPECT_EQ(memo.Text(), "7\r\n8") << "nothing after the NUL counts, not even for the capacity";

    WriteFile(name, std::string(200000, '9'));
    EXPECT_THROW(memo.LoadFromFile(name), EInvalidOperation);
    EXPECT_EQ(memo.Text(), "7\r\n8");

    // Conversion can push a text over the capacity.
    WriteFile(name, std::string(60, '\n'));
    EXPECT_THROW(memo.LoadFromFile(name), EInvalidOperation);

    try {
        memo.LoadFromFile(dir.path().toStdString());
        FAIL() << "a directory loaded";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot open file \"" + dir.path().toStdString() + "\". Is a directory");
    }
}

TEST(TMemo, SaveWritesTheTextUnchangedAndNeverHalfAFile) {
    QTemporaryDir dir;
    const std::string name = dir.filePath("log.log").toStdString();
    TMemo memo;
    memo.SetText(AllBytes() + "\r\n200");
    memo.SaveToFile(name);
    EXPECT_EQ(ReadFile(name), AllBytes() + "\r\n200");
    EXPECT_EQ(DirectoryEntries(dir), QStringList { "log.log" });

    memo.SetText("");
    memo.SaveToFile(name);
    EXPECT_EQ(ReadFile(name), "");

    // A write that fails part way (as on a full disk) leaves the old file
    // whole and no temporary file behind.
    WriteFile(name, "old log\r\n");
    memo.SetText(std::string(100000, '5'));
    {
        const FileSizeLimit limit(4096);
        try {
            memo.SaveToFile(name);
            ADD_FAILURE() << "the save reported success";
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.Message(), "Stream write error");
        }
    }
    EXPECT_EQ(ReadFile(name), "old log\r\n");
    EXPECT_EQ(DirectoryEntries(dir), QStringList { "log.log" });

    // The new file keeps the old one's permission bits.
    ASSERT_EQ(chmod(name.c_str(), 0640), 0);
    memo.SetText("1\r\n");
    memo.SaveToFile(name);
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}
