// The Debian package of this build, made by cpack as `make package` makes
// it of the release build: its control fields, its files, and the metainfo
// and manual page in it as the distribution's tools read them.
#include "tests/support/ProgramRun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

std::string Output(const ProgramRun& run) {
    return run.out + run.err;
}

} // namespace

TEST(Package, DebianPackageHoldsTheProgramItsDesktopFilesAndItsManualPage) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const ProgramRun cpack = RunProgramToEnd(
        QStringLiteral(CPACK_COMMAND),
        { "--config", QStringLiteral(BUILD_DIR "/CPackConfig.cmake"), "-B", dir.path() },
        dir.path());
    ASSERT_EQ(cpack.exitCode, 0) << Output(cpack);
    const QStringList packages = QDir(dir.path()).entryList({ "wallpapers_*.deb" });
    ASSERT_EQ(packages.size(), 1) << Output(cpack);
    const QString deb = dir.filePath(packages[0]);
    EXPECT_TRUE(packages[0].startsWith("wallpapers_" PROJECT_VERSION "_"))
        << packages[0].toStdString();

    // What each field starts with or, after a '*', holds (the dependencies
    // from dpkg-shlibdeps, and the plugins no linker sees).
    const std::pair<const char*, std::string> fields[] = {
        { "Package", "wallpapers\n" },
        { "Version", PROJECT_VERSION "\n" },
        { "Section", "graphics\n" },
        { "Maintainer", "Wallpapers maintainers <" },
        { "Description", "downloads a numbered range of wallpapers from a wallpaper site\n " },
        { "Depends", "*libqt6widgets6 (>=" },
        { "Depends", "*qt6-qpa-plugins" },
    };
    for (const auto& [name, expected] : fields) {
        const std::string value = RunProgramToEnd("dpkg-deb", { "--field", deb, name }).out;
        if (expected[0] == '*')
            EXPECT_NE(value.find(expected.substr(1)), std::string::npos) << name << ": " << value;
        else
            EXPECT_EQ(value.substr(0, expected.size()), expected) << name;
    }

    const QString root = dir.filePath("root");
    ASSERT_EQ(RunProgramToEnd("dpkg-deb", { "--extract", deb, root }).exitCode, 0);
    for (const char* file : { "usr/bin/wallpapers", "usr/share/applications/wallpapers.desktop",
                              "usr/share/icons/hicolor/scalable/apps/wallpapers.svg",
                              "usr/share/metainfo/org.example.wallpapers.metainfo.xml",
                              "usr/share/man/man1/wallpapers.1.gz" })
        EXPECT_TRUE(QFileInfo(root + "/" + file).isFile()) << file;

    const ProgramRun metainfo =
        RunProgramToEnd("appstreamcli", { "validate-tree", "--no-net", root });
    EXPECT_EQ(metainfo.exitCode, 0) << Output(metainfo);

    // gzip -9n: no file name and no time stamp in the header, so that the
    // same page always gives the same bytes.
    QFile page(root + "/usr/share/man/man1/wallpapers.1.gz");
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QByteArray header = page.read(10);
    ASSERT_EQ(header.size(), 10);
    EXPECT_EQ(header.left(3), QByteArray("\x1f\x8b\x08"));
    EXPECT_EQ(header[3] & 0x08, 0) << "no file name";
    EXPECT_EQ(header.mid(4, 4), QByteArray(4, '\0')) << "no time stamp";
    const ProgramRun unpacked = RunProgramToEnd("gzip", { "-dc", page.fileName() });
    EXPECT_EQ(unpacked.out.substr(0, 16), ".TH WALLPAPERS 1");
}
