#include "app/Unit1.h"
#include "app/Unit2.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/WithoutFileOverride.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"
#include "toolkit/widgets/TMemo.h"
#include "toolkit/widgets/TPanel.h"
#include "toolkit/widgets/TSpinEdit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void WriteFile(const QString& name, const std::string& bytes) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string ReadFile(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

// The program's start-up in a temporary current directory, with the error
// box replaced by a recorder.
class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_oldDirectory = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        NewApplication();
    }

    void NewApplication() {
        m_application = std::make_unique<TApplication>();
        m_application->SetTitle("Wallpapers");
        m_application->SetErrorPresenter([this](const std::string& title, const std::string& text) {
            EXPECT_EQ(title, "Wallpapers");
            m_errors.push_back(text);
        });
    }

    void TearDown() override {
        EndProgram();
        QDir::setCurrent(m_oldDirectory);
    }

    void StartProgram() {
        Form1 = m_application->CreateForm<TForm1>();
        Form2 = m_application->CreateForm<TForm2>();
        Form1->show();
    }

    // What the end of the event loop leads to: every window destroyed.
    void EndProgram() { m_application.reset(); }

    QString LogPath() const { return m_dir.filePath("log.log"); }
    std::string FullLogPath() const {
        return QDir(m_dir.path()).absoluteFilePath("log.log").toStdString();
    }

    QTemporaryDir m_dir;
    QString m_oldDirectory;
    std::unique_ptr<TApplication> m_application;
    std::vector<std::string> m_errors;
};

// The numbers from 200 on, one a line, each followed by `end`.
std::string LogLines(int count, const std::string& end) {
    std::string lines;
    for (int number = 200; number < 200 + count; ++number)
        lines += std::to_string(number) + end;
    return lines;
}

} // namespace

TEST_F(MainWindow, ShowsEveryControlInPlaceWithItsCaption) {
    WriteFile(LogPath(), "");
    StartProgram();
    TForm1& form = *Form1;
    EXPECT_EQ(form.windowTitle(), "Form1");
    EXPECT_EQ(form.frameGeometry(), QRect(204, 129, 772, 624));
    EXPECT_EQ(form.font().pointSize(), 8);

    EXPECT_EQ(form.Panel1->geometry(), QRect(0, 0, form.width(), 168));
    EXPECT_EQ(form.Panel1->Caption(), "Panel1");
    EXPECT_EQ(form.Button2->geometry(), QRect(16, 8, 113, 25));
    EXPECT_EQ(form.Button2->text(), "Скачать всё ;)");
    EXPECT_EQ(form.Button3->geometry(), QRect(144, 8, 89, 25));
    EXPECT_EQ(form.Button3->text(), "Приостановить");
    EXPECT_EQ(form.Memo1->geometry(), QRect(8, 40, 457, 97));
    EXPECT_TRUE(form.Memo1->isReadOnly());
    EXPECT_EQ(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(form.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(form.Edit1->geometry(), QRect(8, 140, 457, 21));
    EXPECT_TRUE(form.Edit1->isReadOnly());
    EXPECT_EQ(form.Label1->pos(), QPoint(608, 40));
    EXPECT_EQ(form.Label1->text(), "От:");
    EXPECT_EQ(form.Label2->pos(), QPoint(608, 72));
    EXPECT_EQ(form.Label2->text(), "До:");
    EXPECT_EQ(form.SpinEdit1->geometry(), QRect(632, 40, 121, 22));
    EXPECT_EQ(form.SpinEdit1->Text(), "200");
    EXPECT_EQ(std::make_pair(form.SpinEdit1->MinValue(), form.SpinEdit1->MaxValue()),
              std::make_pair(200, 23000));
    EXPECT_EQ(form.SpinEdit2->geometry(), QRect(632, 64, 121, 22));
    EXPECT_EQ(form.SpinEdit2->Text(), "23000");
    EXPECT_EQ(std::make_pair(form.SpinEdit2->MinValue(), form.SpinEdit2->MaxValue()),
              std::make_pair(0, 0));
    EXPECT_EQ(form.ScrollBox1->geometry().topLeft(), QPoint(0, 168));
    EXPECT_EQ(form.ScrollBox1->geometry().bottomRight(), form.rect().bottomRight());
    EXPECT_EQ(form.ScrollBox1->widget(), form.Image1);
    EXPECT_EQ(form.Image1->geometry(), QRect(0, 0, 760, 425));
    EXPECT_TRUE(form.Image1->AutoSize());

    // The panel follows the width; the controls keep their places.
    form.resize(1000, 700);
    EXPECT_EQ(form.Panel1->geometry(), QRect(0, 0, 1000, 168));
    EXPECT_EQ(form.ScrollBox1->geometry(), QRect(0, 168, 1000, 532));
    EXPECT_EQ(form.SpinEdit1->geometry(), QRect(632, 40, 121, 22));

    EXPECT_TRUE(Form2 != nullptr && !Form2->isVisible()) << "the viewer exists, hidden";
    EXPECT_EQ(m_application->MainForm(), Form1);
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(MainWindow, FirstStartWithoutLogShowsOneErrorAndCreatesTheLogAtClose) {
    StopFlag = 1;
    StartProgram();
    EXPECT_EQ(m_errors, std::vector<std::string> { "Cannot open file \"" + FullLogPath() +
                                                   "\". No such file or directory." });
    EXPECT_EQ(StopFlag, 0) << "cleared before the load";
    EXPECT_EQ(Form1->Memo1->Text(), "");
    EXPECT_TRUE(Form1->isVisible());

    Form1->Memo1->AddLine("200");
    Form1->close();
    EXPECT_TRUE(m_application->Terminated());
    EXPECT_EQ(ReadFile(LogPath()), "200\r\n");
    EXPECT_EQ(m_errors.size(), 1u);
}

TEST_F(MainWindow, LogLineEndsAreMadeCrLfAndEveryByteSurvives) {
    struct Row {
        const char* name;
        std::string file;
        std::string shown;
        std::string saved; // after one more number
    };
    std::string allBytes;
    for (int c = 1; c < 256; ++c)
        if (c != '\r' && c != '\n')
            allBytes += static_cast<char>(c);
    const Row rows[] = {
        { "CR LF", "200\r\n201\r\n", "200\r\n201\r\n", "200\r\n201\r\n202\r\n" },
        { "LF only", "200\n201\n", "200\r\n201\r\n", "200\r\n201\r\n202\r\n" },
        { "lone CR", "200\r201\r", "200\r\n201\r\n", "200\r\n201\r\n202\r\n" },
        { "no final line end", "200\r\n201", "200\r\n201", "200\r\n201\r\n202" },
        { "NUL ends the text",
          std::string("200\r\n20\0"
                      "1\r\n",
                      10),
          "200\r\n20", "200\r\n20\r\n202" },
        { "any byte", allBytes + "\r\n", allBytes + "\r\n", allBytes + "\r\n202\r\n" },
        // Long enough for the pane to group its older lines.
        { "long log", LogLines(3000, "\r\n"), LogLines(3000, "\r\n"),
          LogLines(3000, "\r\n") + "202\r\n" },
        { "long log, LF only", LogLines(3000, "\n"), LogLines(3000, "\r\n"),
          LogLines(3000, "\r\n") + "202\r\n" },
        { "long log, no final line end", allBytes + "\r\n" + LogLines(3000, "\r\n") + "1",
          allBytes + "\r\n" + LogLines(3000, "\r\n") + "1",
          allBytes + "\r\n" + LogLines(3000, "\r\n") + "1\r\n202" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!m_application)
            NewApplication();
        WriteFile(LogPath(), row.file);
        StartProgram();
        EXPECT_EQ(Form1->Memo1->Text(), row.shown);
        Form1->Memo1->AddLine("202");
        Form1->close();
        EXPECT_EQ(ReadFile(LogPath()), row.saved);
        EndProgram();
        EXPECT_EQ(ReadFile(LogPath()), row.saved) << "saved again at program end";
        EXPECT_TRUE(m_errors.empty());
    }
}

TEST_F(MainWindow, TooLargeLogLeavesThePaneEmpty) {
    WriteFile(LogPath(), std::string(100, '7'));
    Form1 = m_application->CreateForm<TForm1>();
    Form1->Memo1->SetCapacity(64);
    Form1->show();
    EXPECT_EQ(m_errors, std::vector<std::string> { "Text exceeds memo capacity." });
    EXPECT_EQ(Form1->Memo1->Text(), "");
}

TEST_F(MainWindow, StopButtonTogglesTheFlagAndNamesItsNextAction) {
    WriteFile(LogPath(), "");
    StartProgram();
    QStringList captions;
    for (int press = 0; press < 3; ++press) {
        QTest::mouseClick(Form1->Button3, Qt::LeftButton);
        captions << Form1->Button3->text();
    }
    EXPECT_EQ(captions, (QStringList { "разрешить", "Запретить", "разрешить" }));
    EXPECT_EQ(StopFlag, 1);

    Form1->hide();
    Form1->show();
    EXPECT_EQ(StopFlag, 0) << "showing the window clears the flag";
}

TEST_F(MainWindow, NumberBoxesClampWhenTheDownloadButtonTakesTheFocus) {
    WriteFile(LogPath(), "");
    StartProgram();
    Form1->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form1));

    Form1->SpinEdit1->setFocus();
    Form1->SpinEdit1->SetText("");
    QTest::keyClicks(Form1->SpinEdit1, "50");
    Form1->SpinEdit2->setFocus();
    EXPECT_EQ(Form1->SpinEdit1->Text(), "200");

    Form1->SpinEdit2->SetText("");
    QTest::keyClicks(Form1->SpinEdit2, "99999");
    // The click starts a run; with nobody listening it ends at its first page.
    Form1->SiteAddress = "http://127.0.0.1:" + std::to_string(LoopbackPeer::UnusedPort());
    QTest::mouseClick(Form1->Button2, Qt::LeftButton);
    EXPECT_EQ(Form1->SpinEdit2->Text(), "99999") << "equal bounds: never clamped";
    EXPECT_EQ(Form1->SpinEdit2->Value(), 99999);
    EXPECT_EQ(m_errors, std::vector<std::string> { "Connection Failed." });
    EXPECT_EQ(CurrentNumber, 200) << "the run started at the clamped value";

    Form1->SpinEdit2->SetText("abc");
    EXPECT_EQ(Form1->SpinEdit2->Value(), 0);
}

TEST_F(MainWindow, LogGoesToTheCurrentDirectoryOfEachSave) {
    WriteFile(LogPath(), "200\r\n");
    StartProgram();
    QTemporaryDir elsewhere;
    QDir::setCurrent(elsewhere.path());
    Form1->close();
    EXPECT_EQ(ReadFile(elsewhere.filePath("log.log")), "200\r\n");
    EXPECT_EQ(ReadFile(LogPath()), "200\r\n");
    QDir::setCurrent(m_dir.path());
}

TEST_F(MainWindow, LogInAReadOnlyFolderIsSavedAndAnUnwritableOneKeepsTheWindowOpen) {
    WriteFile(LogPath(), "200\r\n");
    ASSERT_EQ(chmod(QFile::encodeName(LogPath()).constData(), 0666), 0);
    StartProgram();
    Form1->Memo1->AddLine("201");
    ASSERT_EQ(chmod(QFile::encodeName(m_dir.path()).constData(), 0555), 0);
    {
        // No temporary file can be made beside the log: it is rewritten in
        // place.
        WithoutFileOverride unprivileged;
        Form1->close();
    }
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_TRUE(m_application->Terminated());
    EXPECT_EQ(ReadFile(LogPath()), "200\r\n201\r\n");
    EndProgram();

    NewApplication();
    StartProgram();
    Form1->Memo1->AddLine("202");
    ASSERT_EQ(chmod(QFile::encodeName(LogPath()).constData(), 0444), 0);
    {
        WithoutFileOverride unprivileged;
        Form1->close();
    }
    EXPECT_EQ(m_errors, std::vector<std::string> { "Cannot create file \"" + FullLogPath() +
                                                   "\". Permission denied." });
    EXPECT_TRUE(Form1->isVisible()) << "the close is abandoned";
    EXPECT_FALSE(m_application->Terminated());
    EXPECT_EQ(ReadFile(LogPath()), "200\r\n201\r\n");

    // At program end the error is shown and the program still ends.
    {
        WithoutFileOverride unprivileged;
        EndProgram();
    }
    EXPECT_EQ(m_errors.size(), 2u);
    EXPECT_EQ(ReadFile(LogPath()), "200\r\n201\r\n");
    EXPECT_EQ(Form1, nullptr);
    ASSERT_EQ(chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "log.log" });
}

TEST_F(MainWindow, LogThatCouldNotBeLoadedIsNeverReplaced) {
    const std::string big(100, '7');
    WriteFile(LogPath(), big);
    Form1 = m_application->CreateForm<TForm1>();
    Form1->Memo1->SetCapacity(64);
    Form1->show();
    EXPECT_EQ(m_errors, std::vector<std::string> { "Text exceeds memo capacity." });
    Form1->close();
    EXPECT_TRUE(m_application->Terminated());
    EndProgram();
    EXPECT_EQ(ReadFile(LogPath()), big) << "neither save truncated it";
    EXPECT_EQ(m_errors.size(), 1u);
}

TEST_F(MainWindow, DoubleClickOnThePictureOpensANewCurrentViewer) {
    WriteFile(LogPath(), "");
    StartProgram();
    TForm2* first = Form2;
    QTest::mouseDClick(Form1->Image1, Qt::LeftButton);
    ASSERT_NE(Form2, nullptr);
    EXPECT_NE(Form2, first);
    EXPECT_TRUE(Form2->isVisible());
    EXPECT_FALSE(first->isVisible());
    EXPECT_TRUE(Form1->isVisible());
}
