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

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
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

// Every case runs twice: with the unnamed temporary file, and with the
// hidden named one of file systems that cannot make unnamed files.
class AtomicFileStream : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { TAtomicFileStream::UseNamedTemporariesOnly(Named()); }
    void TearDown() override { TAtomicFileStream::UseNamedTemporariesOnly(false); }
    static bool Named() { return GetParam(); }

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

TEST_P(AtomicFileStream, NothingNamedExistsUntilCommit) {
    const std::string name = Path("1.jpg");
    {
        TAtomicFileStream stream(name);
        stream.WriteBuffer("abc", 3);
        if (Named()) {
            ASSERT_EQ(Entries().size(), 1);
            EXPECT_TRUE(Entries()[0].startsWith(".1.jpg.")) << Entries()[0].toStdString();
        } else {
            EXPECT_TRUE(Entries().isEmpty())
                << "the temporary file has no name: " + Entries().join(' ').toStdString();
        }
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

TEST_P(AtomicFileStream, SymbolicLinkStaysALinkToTheUpdatedFile) {
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

    // A link to a file not yet there makes that file when it lies beside
    // the link, never in another folder.
    ASSERT_EQ(symlink("new.log", Path("dangling").c_str()), 0);
    Save(Path("dangling"), "1\r\n");
    EXPECT_EQ(ReadFile(Path("new.log")), "1\r\n");
    ASSERT_EQ(lstat(Path("dangling").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(symlink("real/new.log", Path("away").c_str()), 0);
    EXPECT_THROW(Save(Path("away"), "2\r\n"), ENotRegularFile);
    EXPECT_EQ(Entries("real"), QStringList { "log.log" });
}

TEST_P(AtomicFileStream, HardLinkedFileIsRewrittenInPlaceKeepingOwnerAndMode) {
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

TEST_P(AtomicFileStream, WritableFileInAReadOnlyFolderIsRewrittenInPlace) {
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

TEST_P(AtomicFileStream, FailedRenameAtCommitRaisesAndLeavesTheTargetAsItWas) {
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

    if (!Named())
        return;
    // The hidden file vanished before its rename (another program cleaned
    // the folder): the rename fails and the target keeps its content.
    WriteFile(Path("2.jpg"), "old");
    TAtomicFileStream vanishing(Path("2.jpg"));
    vanishing.WriteBuffer("new", 3);
    for (const QString& entry : Entries()) {
        if (entry.startsWith(".2.jpg.")) {
            ASSERT_EQ(unlink(Path(entry.toStdString()).c_str()), 0);
        }
    }
    EXPECT_THROW(vanishing.Commit(), EFCreateError);
    EXPECT_EQ(ReadFile(Path("2.jpg")), "old");
}

TEST_P(AtomicFileStream, StaleNamedTemporariesOfEndedProcessesAreRemoved) {
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

// Only regular files are written: whatever else a name is, or leads to, is
// refused and stays as it was. Device nodes are the test's own (mknod in its
// folder, as root), never the machine's.
TEST_P(AtomicFileStream, OnlyRegularFilesAreReplacedAppendedToOrRead) {
    const bool root = geteuid() == 0;
    ASSERT_EQ(mkdir(Path("away").c_str(), 0755), 0);
    if (root) {
        ASSERT_EQ(mknod(Path("zero").c_str(), S_IFCHR | 0666, makedev(1, 5)), 0);
    }
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0666), 0);
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = Path("socket");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    WriteFile(Path("plain"), "old");

    enum : int { Refused, Done };
    struct Row {
        const char* name;
        const char* linkTo; // nullptr: the name itself is the node
        int save;           // a save that may make a missing file beside a link
        int picture;        // a save that never follows a link to a missing file
        int append;
        bool readable;
        bool needsRoot;
    };
    const Row rows[] = {
        { "zero", nullptr, Refused, Refused, Refused, false, true },
        { "to-zero", "zero", Refused, Refused, Refused, false, true },
        { "fifo", nullptr, Refused, Refused, Refused, false, false },
        { "to-fifo", "fifo", Refused, Refused, Refused, false, false },
        { "to-socket", "socket", Refused, Refused, Refused, false, false },
        { "to-plain", "plain", Done, Done, Done, true, false },
        { "to-missing-beside", "missing", Done, Refused, Done, true, false },
        { "to-missing-away", "away/missing", Refused, Refused, Refused, false, false },
    };
    const auto kinds = [&] {
        QStringList kinds;
        for (const QString& entry : Entries()) {
            struct stat st {};
            lstat(Path(entry.toStdString()).c_str(), &st);
            kinds << entry + ":" + QString::number(st.st_mode & S_IFMT, 8);
        }
        return kinds;
    };
    for (const Row& row : rows) {
        if (row.needsRoot && !root)
            continue;
        SCOPED_TRACE(row.name);
        if (row.linkTo) {
            ASSERT_EQ(symlink(row.linkTo, Path(row.name).c_str()), 0);
        }
        const std::string name = Path(row.name);
        const auto outcome = [&name](const auto& write) {
            try {
                write();
                return static_cast<int>(Done);
            } catch (const ENotRegularFile& e) {
                EXPECT_EQ(e.Message().rfind("Cannot create file \"" + name + "\". ", 0), 0u);
                return static_cast<int>(Refused);
            }
        };
        const QStringList before = kinds();
        const int picture = outcome([&] {
            TAtomicFileStream stream(name, TFileTarget::TDangling::Refuse);
            stream.Commit();
        });
        const int save = outcome([&] { Save(name, "new"); });
        const int append = outcome([&] { TFileStream(name, fmAppend).WriteBuffer("+", 1); });
        EXPECT_EQ(save, row.save);
        EXPECT_EQ(picture, row.picture);
        EXPECT_EQ(append, row.append);
        if (row.save == Refused && row.append == Refused) {
            EXPECT_EQ(kinds(), before) << "nothing made, nothing replaced";
        }
        // Reading never blocks on what is not a regular file.
        if (!row.readable) {
            EXPECT_THROW(TFileStream(name, fmOpenRead), EFOpenError);
        }
    }
    close(listener);
    EXPECT_EQ(ReadFile(Path("plain")), "new+");
    EXPECT_EQ(ReadFile(Path("missing")), "new+");
}

INSTANTIATE_TEST_SUITE_P(Temporaries, AtomicFileStream, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Named") : std::string("Unnamed");
                         });
