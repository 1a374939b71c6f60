// Saving a file anew: links, shared folders and crashes must not lose or
// split the file, and no temporary file may outlive its process.
#include "toolkit/runtime/TAtomicFileStream.h"
#include "tests/support/WithoutFileOverride.h"
#include "toolkit/runtime/Exception.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in)
        return "<missing>";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}

void Save(const std::string& name, const std::string& bytes) {
    TAtomicFileStream stream(name);
    stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    stream.Commit();
}

class AtomicFileStream : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const {
        return m_dir.path().toStdString() + "/" + name;
    }
    QStringList Entries(const std::string& folder = "") const {
        return QDir(m_dir.path() + (folder.empty() ? "" : "/" + QString::fromStdString(folder)))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(AtomicFileStream, NothingNamedExistsUntilCommit) {
    const std::string name = Path("1.jpg");
    {
        TAtomicFileStream stream(name);
        stream.WriteBuffer("abc", 3);
        EXPECT_TRUE(Entries().isEmpty())
            << "the temporary file has no name: " + Entries().join(' ').toStdString();
        stream.Commit();
    }
    EXPECT_EQ(ReadFile(name), "abc");
    {
        TAtomicFileStream stream(name);
        stream.WriteBuffer("not kept", 8);
    }
    EXPECT_EQ(ReadFile(name), "abc") << "no commit, no change";
    Save(name, "replaced");
    EXPECT_EQ(ReadFile(name), "replaced");
    EXPECT_EQ(Entries(), QStringList { "1.jpg" });
}

TEST_F(AtomicFileStream, SymbolicLinkStaysALinkToTheUpdatedFile) {
    ASSERT_EQ(mkdir(Path("real").c_str(), 0755), 0);
    WriteFile(Path("real/log.log"), "old\r\n");
    // Relative, and through a second link.
    ASSERT_EQ(symlink("real/log.log", Path("middle").c_str()), 0);
    ASSERT_EQ(symlink("middle", Path("log.log").c_str()), 0);
    Save(Path("log.log"), "old\r\nnew\r\n");
    struct stat st {};
    ASSERT_EQ(lstat(Path("log.log").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(lstat(Path("middle").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(Path("real/log.log")), "old\r\nnew\r\n");
    EXPECT_EQ(Entries("real"), QStringList { "log.log" }) << "the temporary file went beside it";

    // A link to a file not yet there makes that file.
    ASSERT_EQ(symlink("real/new.log", Path("dangling").c_str()), 0);
    Save(Path("dangling"), "1\r\n");
    EXPECT_EQ(ReadFile(Path("real/new.log")), "1\r\n");
    ASSERT_EQ(lstat(Path("dangling").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(AtomicFileStream, HardLinkedFileIsRewrittenInPlaceKeepingOwnerAndMode) {
    WriteFile(Path("log.log"), "a much longer old content\r\n");
    ASSERT_EQ(link(Path("log.log").c_str(), Path("other").c_str()), 0);
    ASSERT_EQ(chmod(Path("log.log").c_str(), 0604), 0);
    ASSERT_EQ(chown(Path("log.log").c_str(), 4321, 4322), 0);
    struct stat before {};
    ASSERT_EQ(stat(Path("log.log").c_str(), &before), 0);
    Save(Path("log.log"), "short\r\n");
    EXPECT_EQ(ReadFile(Path("other")), "short\r\n") << "cut to the new length";
    struct stat after {};
    ASSERT_EQ(stat(Path("log.log").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(after.st_mode & 07777, 0604u);
    EXPECT_EQ(after.st_uid, 4321u);
    EXPECT_EQ(after.st_gid, 4322u);
    EXPECT_EQ(Entries(), (QStringList { "log.log", "other" }));
}

TEST_F(AtomicFileStream, WritableFileInAReadOnlyFolderIsRewrittenInPlace) {
    ASSERT_EQ(mkdir(Path("locked").c_str(), 0755), 0);
    const std::string name = Path("locked/log.log");
    WriteFile(name, "200\r\n");
    ASSERT_EQ(chmod(name.c_str(), 0666), 0);
    ASSERT_EQ(chmod(Path("locked").c_str(), 0555), 0);
    {
        WithoutFileOverride unprivileged;
        Save(name, "200\r\n201\r\n");
        // A new file cannot be made there at all.
        try {
            Save(Path("locked/other.log"), "x");
            ADD_FAILURE() << "created a file in a read-only folder";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(e.SystemError, EACCES);
        }
        // Nor can a file we may not write be replaced.
        ASSERT_EQ(chmod(name.c_str(), 0444), 0);
        EXPECT_THROW(Save(name, "lost"), EFCreateError);
    }
    ASSERT_EQ(chmod(Path("locked").c_str(), 0755), 0);
    EXPECT_EQ(ReadFile(name), "200\r\n201\r\n");
    EXPECT_EQ(Entries("locked"), QStringList { "log.log" });
}

TEST_F(AtomicFileStream, FailedRenameAtCommitRaisesAndLeavesTheTargetAsItWas) {
    // The target turns into a folder after the temporary file exists, so the
    // final rename fails (EISDIR) for root as for anyone. The old content
    // moves into that folder and must come through untouched.
    const std::string name = Path("1.jpg");
    WriteFile(name, "old picture");
    TAtomicFileStream stream(name);
    stream.WriteBuffer("new picture", 11);
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
    ASSERT_EQ(rename(name.c_str(), Path("folder/old.jpg").c_str()), 0);
    ASSERT_EQ(rename(Path("folder").c_str(), name.c_str()), 0);
    try {
        stream.Commit();
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"" + name + "\". Is a directory");
        EXPECT_EQ(e.SystemError, EISDIR);
    }
    EXPECT_EQ(ReadFile(Path("1.jpg/old.jpg")), "old picture");
    EXPECT_EQ(Entries(), QStringList { "1.jpg" }) << "no temporary file is left";
    EXPECT_EQ(Entries("1.jpg"), QStringList { "old.jpg" });
}

TEST_F(AtomicFileStream, StaleNamedTemporariesOfEndedProcessesAreRemoved) {
    // A process that has surely ended: a child that was waited for.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    const std::string dead = std::to_string(child);
    const std::string alive = std::to_string(getppid());
    const QStringList names { QString::fromStdString(".12.jpg." + dead + "-0.tmp"),
                              QString::fromStdString(".log.log." + dead + "-7.tmp"),
                              QString::fromStdString(".12.jpg." + alive + "-0.tmp"),
                              QString::fromStdString("12.jpg." + dead + "-0.tmp"),
                              QString::fromStdString(".12.jpg." + dead + "-x.tmp"),
                              "12.jpg" };
    for (const QString& name : names)
        WriteFile(Path(name.toStdString()), "x");
    TAtomicFileStream::RemoveStaleTemporaries(m_dir.path().toStdString() + "/");
    QStringList expected { names[2], names[3], names[4], names[5] };
    expected.sort();
    EXPECT_EQ(Entries(), expected);
}
