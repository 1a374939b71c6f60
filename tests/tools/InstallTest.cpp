// `cmake --install` of this build into a prefix of the test's: the program,
// its desktop entry and its icon, where desktops look for them.
#include "app/Unit1.h"
#include "tests/support/ProgramRun.h"
#include "toolkit/widgets/TApplication.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>

#include <memory>

namespace {

// Standard output and error in one.
std::string Output(const ProgramRun& run) {
    return run.out + run.err;
}

QImage Rendered(const QIcon& icon) {
    return icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TEST(Install, LaysOutTheProgramItsDesktopEntryAndItsIcon) {
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const ProgramRun install =
        RunProgramToEnd(QStringLiteral(CMAKE_COMMAND),
                        { "--install", QStringLiteral(BUILD_DIR), "--prefix", prefix.path() });
    ASSERT_EQ(install.exitCode, 0) << Output(install);

    const QFileInfo program(prefix.filePath("bin/wallpapers"));
    EXPECT_TRUE(program.isFile() && program.isExecutable());
    const ProgramRun version = RunProgramToEnd(program.filePath(), { "--version" });
    EXPECT_EQ(version.exitCode, 0) << Output(version);
    EXPECT_EQ(version.out, "wallpapers " + std::string(PROJECT_VERSION) + "\n");

    const QString entry = prefix.filePath("share/applications/wallpapers.desktop");
    ASSERT_TRUE(QFileInfo(entry).isFile());
    const ProgramRun valid = RunProgramToEnd(QStringLiteral("desktop-file-validate"), { entry });
    EXPECT_EQ(valid.exitCode, 0) << Output(valid);
    EXPECT_EQ(Output(valid), "") << "no warnings either";
    QFile entryFile(entry);
    ASSERT_TRUE(entryFile.open(QIODevice::ReadOnly));
    const QByteArray text = entryFile.readAll();
    EXPECT_TRUE(text.contains("\nExec=wallpapers\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nIcon=wallpapers\n")) << text.toStdString();

    // The icon the entry names, drawn: the same picture as the window's.
    const QString icon = prefix.filePath("share/icons/hicolor/scalable/apps/wallpapers.svg");
    ASSERT_TRUE(QFileInfo(icon).isFile());
    const QImage installed = Rendered(QIcon(icon));
    ASSERT_FALSE(installed.isNull()) << "Qt's SVG support draws it";
    EXPECT_NE(installed.pixel(24, 24), 0u) << "something is drawn";

    // The window saves its log into the current directory when it goes.
    QTemporaryDir current;
    const QString old = QDir::currentPath();
    QDir::setCurrent(current.path());
    {
        TApplication application;
        const TForm1* form = application.CreateForm<TForm1>();
        EXPECT_EQ(Rendered(form->windowIcon()), installed);
    }
    QDir::setCurrent(old);
}
