#include "app/Translation.h"
#include "app/RunProgress.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/RunWindows.h"
#include "toolkit/widgets/LoadPictureFile.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <map>

TEST(Translation, LanguageIsChosenFromTheEnvironmentAsGettextDoes) {
    struct Row {
        const char* language; // LANGUAGE
        const char* all;      // LC_ALL
        const char* messages; // LC_MESSAGES
        const char* lang;     // LANG
        const char* chosen;
    };
    const Row rows[] = {
        { "", "", "", "en_US.UTF-8", "en" },
        { "", "", "", "C", "" },
        { "", "", "", "POSIX", "" },
        { "", "", "", "", "" },
        { "", "", "", "de_DE.UTF-8", "" },
        { "", "", "en_GB@euro", "ru_RU.UTF-8", "en" },
        { "", "C", "en_US.UTF-8", "en_US.UTF-8", "" },
        { "en", "", "", "C.UTF-8", "" },
        { "de:en_GB", "", "", "fr_FR.UTF-8", "en" },
        { "ru:en", "", "", "en_US.UTF-8", "" },
    };
    for (const Row& row : rows) {
        const std::map<std::string, QString> environment { { "LANGUAGE", row.language },
                                                           { "LC_ALL", row.all },
                                                           { "LC_MESSAGES", row.messages },
                                                           { "LANG", row.lang } };
        EXPECT_EQ(MessagesLanguage([&](const char* name) { return environment.at(name); },
                                   { QStringLiteral("en") }),
                  row.chosen)
            << row.language << " | " << row.all << " | " << row.messages << " | " << row.lang;
    }
    EXPECT_EQ(TranslatedLanguages(), QStringList { QStringLiteral("en") });
}

TEST(Translation, WindowSpeaksTheLocalesLanguage) {
    struct Row {
        const char* lang;
        const char* download;
        const char* from;
        const char* resume;
        const char* wallpaper;
        const char* bytes;
        const char* error;
    };
    const Row rows[] = {
        { "en_US.UTF-8", "Download all ;)", "From:", "resume", "Set as Wallpaper", "2 KB of 1.5 MB",
          "Cannot set the wallpaper: there is no desktop portal "
          "(org.freedesktop.portal.Desktop) on the D-Bus session bus." },
        { "C", "Скачать всё ;)", "От:", "разрешить", "Сделать обоями", "2 КБ из 1,5 МБ",
          "Не удалось сделать картинку обоями: на сеансовой шине D-Bus нет портала рабочего "
          "стола (org.freedesktop.portal.Desktop)" },
    };
    QTemporaryDir dir;
    const std::string picture = dir.filePath("1.jpg").toStdString();
    std::ofstream(picture, std::ios::binary) << MakeJpeg(20, 10);
    // A session bus that is not there: the wallpaper's error box.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(dir.filePath("no-bus")));
    for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES" })
        qunsetenv(name);

    for (const Row& row : rows) {
        SCOPED_TRACE(row.lang);
        qputenv("LANG", row.lang);
        const std::unique_ptr<QTranslator> translation = InstallTranslation();
        RunWindows windows;
        windows.Open(dir.path().toStdString());
        Form1->show();
        QApplication::setActiveWindow(Form1);
        EXPECT_EQ(Form1->Button2->text(), row.download);
        EXPECT_EQ(Form1->Label1->text(), row.from);
        QTest::mouseClick(Form1->Button3, Qt::LeftButton);
        EXPECT_EQ(Form1->Button3->text(), row.resume);
        const auto* entry = Form2->Image1->findChild<QAction*>(QStringLiteral("WallpaperAction"));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->text(), row.wallpaper);
        EXPECT_EQ(TRunProgress::BytesText(2048, 1572864), row.bytes);

        LoadPictureFile(*Form1->Image1, picture);
        QTest::keyClick(Form1, Qt::Key_W, Qt::ControlModifier);
        EXPECT_EQ(windows.Errors(), std::vector<std::string> { row.error });
    }
}
