#pragma once

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TMemo.h"
#include "toolkit/widgets/TSpinEdit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// The path of a wallpaper's page on the site.
inline std::string PagePath(int number) {
    return "/wallpapers/get/id/" + std::to_string(number) + "/resolution/1024x768";
}

// The real main window and viewer, shown, in a temporary current directory
// (for "log.log"), with the error box replaced by a recorder. The run's site
// is set by each test; its pictures go to a temporary directory of their own.
class DownloadRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid() && m_pictures.isValid());
        m_oldDirectory = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        std::ofstream emptyLog(LogFileName);
        m_application = std::make_unique<TApplication>();
        m_application->SetTitle("Wallpapers");
        m_application->SetErrorPresenter(
            [this](const std::string&, const std::string& text) { m_errors.push_back(text); });
        StopFlag = 0;
        CurrentNumber = 0;
        Form1 = m_application->CreateForm<TForm1>();
        Form2 = m_application->CreateForm<TForm2>();
        Form1->PictureDirectory = m_pictures.path().toStdString() + "/";
        // A transient failure is tried again after milliseconds, not seconds.
        Form1->RetryWaits = { 1, 2, 4 };
        Form1->show();
    }

    void TearDown() override {
        m_application.reset();
        QDir::setCurrent(m_oldDirectory);
    }

    // Types the range into the number boxes and clicks the download button
    // with the mouse; the whole run happens inside the click.
    void ClickDownload(int from, int to) {
        Form1->SpinEdit1->SetText(QString::number(from));
        Form1->SpinEdit2->SetText(QString::number(to));
        QTest::mouseClick(Form1->Button2, Qt::LeftButton);
    }

    std::string PictureFile(int number) const {
        return Form1->PictureDirectory + std::to_string(number) + ".jpg";
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return "<missing>";
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    std::string LogText() const { return Form1->Memo1->Text(); }

    QTemporaryDir m_dir;
    QTemporaryDir m_pictures;
    QString m_oldDirectory;
    std::unique_ptr<TApplication> m_application;
    std::vector<std::string> m_errors;
};
