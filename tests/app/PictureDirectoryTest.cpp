// Where pictures go without --dir: beside the program when its folder can
// be written, else in the user's pictures folder, made at the first picture.
#include "app/PictureDirectory.h"
#include "tests/app/DownloadRunFixture.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/NginxServer.h"
#include "tests/support/WithoutFileOverride.h"

#include <QFile>

#include <filesystem>
#include <optional>
#include <sys/stat.h>

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value) : m_name(name) {
        if (qEnvironmentVariableIsSet(name))
            m_old = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnvironment() {
        if (m_old)
            qputenv(m_name, *m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    std::optional<QByteArray> m_old;
};

// A program folder and a home folder of the test's; HOME points at the
// latter while the object lives.
class PictureFolders : public DownloadRunTest {
protected:
    void SetUp() override {
        DownloadRunTest::SetUp();
        ASSERT_TRUE(m_program.isValid() && m_home.isValid());
        m_homeVariable.emplace("HOME", QFile::encodeName(m_home.path()));
        m_configVariable.emplace("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(".config")));
    }
    void TearDown() override {
        Mode(m_program.path(), 0755);
        Mode(m_home.path(), 0755);
        m_configVariable.reset();
        m_homeVariable.reset();
        DownloadRunTest::TearDown();
    }

    static void Mode(const QString& path, mode_t mode) {
        ASSERT_EQ(chmod(QFile::encodeName(path).constData(), mode), 0);
    }
    std::string ProgramFolder() const { return m_program.path().toStdString() + "/"; }
    std::string Home() const { return m_home.path().toStdString(); }

    QTemporaryDir m_program;
    QTemporaryDir m_home;
    std::optional<ScopedEnvironment> m_homeVariable;
    std::optional<ScopedEnvironment> m_configVariable;
};

} // namespace

TEST_F(PictureFolders, ProgramFolderWhileWritableElseThePicturesFolder) {
    EXPECT_EQ(DefaultPictureDirectory(ProgramFolder()), ProgramFolder());

    Mode(m_program.path(), 0555);
    std::string fallback;
    {
        WithoutFileOverride unprivileged;
        fallback = DefaultPictureDirectory(ProgramFolder());
    }
    EXPECT_EQ(fallback, Home() + "/Pictures/wallpapers/");
    EXPECT_FALSE(std::filesystem::exists(fallback)) << "made at the first picture only";

    // The user's own name for the pictures folder counts.
    QDir().mkpath(m_home.filePath(".config"));
    QFile dirs(m_home.filePath(".config/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    dirs.close();
    WithoutFileOverride unprivileged;
    EXPECT_EQ(DefaultPictureDirectory(ProgramFolder()), Home() + "/Bilder/wallpapers/");
}

TEST_F(PictureFolders, TheFirstPictureMakesTheFolder) {
    NginxServer server;
    server.WriteFile(PagePath(200).substr(1),
                     "<img class=\"wallpaper\" src=\"" + server.Url("/200.jpg") + "\">\r\n");
    const std::string picture = MakeJpeg(30, 20);
    server.WriteFile("200.jpg", picture);
    Form1->SiteAddress = server.BaseUrl();
    Mode(m_program.path(), 0555);
    {
        WithoutFileOverride unprivileged;
        Form1->PictureDirectory = DefaultPictureDirectory(ProgramFolder());
    }

    ClickDownload(200, 200);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_EQ(ReadFile(Home() + "/Pictures/wallpapers/200.jpg"), picture);
    EXPECT_EQ(LogText(), "200\r\n");
    EXPECT_TRUE(QDir(m_program.path()).isEmpty());

    // A folder that cannot be made ends the run as a file that cannot be.
    std::filesystem::remove_all(Home() + "/Pictures");
    Mode(m_home.path(), 0555);
    {
        WithoutFileOverride unprivileged;
        ClickDownload(200, 200);
    }
    EXPECT_EQ(m_errors, std::vector<std::string> { "File access denied." });
    EXPECT_EQ(LogText(), "200\r\n");
}
