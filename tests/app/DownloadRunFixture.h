#pragma once

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "tests/support/RunWindows.h"
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

// The real main window and viewer (see RunWindows), shown. The run's site is
// set by each test; its pictures go to a temporary directory of their own.
class DownloadRunTest : public ::testing::Test, protected RunWindows {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid() && m_pictures.isValid());
        Open(m_pictures.path().toStdString());
        // A transient failure is tried again after milliseconds, not seconds.
        Form1->RetryWaits = { 1, 2, 4 };
        Form1->show();
    }

    void TearDown() override { Close(); }

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

    QTemporaryDir m_pictures;
};
