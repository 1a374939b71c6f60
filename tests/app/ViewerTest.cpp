#include "app/Unit1.h"
#include "app/Unit2.h"
#include "tests/support/JpegFixtures.h"
#include "toolkit/widgets/LoadPictureFile.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

namespace {

// The program's two windows in a temporary current directory, with the
// error box replaced by a recorder.
class Viewer : public ::testing::Test {
protected:
    void SetUp() override {
        m_oldDirectory = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        std::ofstream("log.log");
        m_application = std::make_unique<TApplication>();
        m_application->SetErrorPresenter(
            [this](const std::string&, const std::string& text) { m_errors.push_back(text); });
        Form1 = m_application->CreateForm<TForm1>();
        Form2 = m_application->CreateForm<TForm2>();
        Form1->show();
    }
    void TearDown() override {
        m_application.reset();
        QDir::setCurrent(m_oldDirectory);
        EXPECT_TRUE(m_errors.empty()) << m_errors.front();
    }

    TForm2* OpenViewer() {
        QTest::mouseDClick(Form1->Image1, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Form2));
        return Form2;
    }

    std::string WriteJpeg(const std::string& name, int width, int height) {
        const std::string path = m_dir.filePath(QString::fromStdString(name)).toStdString();
        std::ofstream(path, std::ios::binary) << MakeJpeg(width, height);
        return path;
    }

    QTemporaryDir m_dir;
    QString m_oldDirectory;
    std::unique_ptr<TApplication> m_application;
    std::vector<std::string> m_errors;
};

} // namespace

TEST_F(Viewer, ComesUpBorderlessMaximisedAndEmptyOverTheWholeScreen) {
    TForm2* hidden = Form2;
    EXPECT_FALSE(hidden->isVisible());
    TForm2* viewer = OpenViewer();
    ASSERT_NE(viewer, hidden);
    EXPECT_TRUE(viewer->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(viewer->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(viewer->geometry(), viewer->screen()->availableGeometry());
    EXPECT_EQ(viewer->windowTitle(), "Form2");
    EXPECT_TRUE(Form1->isVisible()) << "the main window stays usable";

    EXPECT_EQ(viewer->Image1->Graphic(), nullptr);
    EXPECT_FALSE(viewer->Image1->AutoSize());
    EXPECT_EQ(viewer->Image1->geometry(), viewer->rect());
    const QColor buttonFace = viewer->palette().color(QPalette::Button);
    const QImage shot = viewer->grab().toImage();
    EXPECT_EQ(shot.pixelColor(0, 0), buttonFace);
    EXPECT_EQ(shot.pixelColor(shot.width() - 1, shot.height() - 1), buttonFace);
}

TEST_F(Viewer, EscapeHidesItAndOtherKeysDoNothing) {
    TForm2* viewer = OpenViewer();
    for (Qt::Key key : { Qt::Key_Return, Qt::Key_Space, Qt::Key_A, Qt::Key_Left, Qt::Key_F1 }) {
        QTest::keyClick(viewer, key);
        EXPECT_TRUE(viewer->isVisible()) << key;
    }
    QTest::keyClick(viewer, Qt::Key_Escape);
    EXPECT_FALSE(viewer->isVisible());
    EXPECT_EQ(Form2, viewer) << "hidden, not destroyed: still the current viewer";

    // A second viewer replaces it as the current one; the first lives on.
    TForm2* second = OpenViewer();
    EXPECT_NE(second, viewer);
    EXPECT_FALSE(viewer->isVisible());
    EXPECT_EQ(viewer->objectName(), "Form2");

    // A close request that comes another way hides it as well.
    second->close();
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(Form2, second);
    EXPECT_TRUE(Form1->isVisible());
}

TEST_F(Viewer, ShowsPicturesAtNaturalSizeFromTheTopLeft) {
    TForm2* viewer = OpenViewer();
    LoadPictureFile(*viewer->Image1, WriteJpeg("1.jpg", 100, 80));
    EXPECT_EQ(viewer->Image1->geometry(), viewer->rect()) << "the control keeps filling the window";
    QImage shot = viewer->grab().toImage();
    const QColor red = shot.pixelColor(3, 3);
    EXPECT_GT(red.red(), 200);
    EXPECT_LT(red.green(), 60);
    const QColor buttonFace = viewer->palette().color(QPalette::Button);
    EXPECT_EQ(shot.pixelColor(120, 10), buttonFace);
    EXPECT_EQ(shot.pixelColor(10, 100), buttonFace);

    // Larger than the screen: cut at the edges, no scroll bars, no scaling.
    const QSize screen = viewer->size();
    LoadPictureFile(*viewer->Image1,
                    WriteJpeg("2.jpg", screen.width() + 300, screen.height() + 200));
    shot = viewer->grab().toImage();
    EXPECT_EQ(shot.size(), screen * shot.devicePixelRatio());
    EXPECT_NE(shot.pixelColor(shot.width() - 1, shot.height() - 1), buttonFace);
    EXPECT_GT(shot.pixelColor(3, 3).red(), 200);

    // The hidden current viewer still takes pictures.
    QTest::keyClick(viewer, Qt::Key_Escape);
    LoadPictureFile(*viewer->Image1, WriteJpeg("3.jpg", 30, 20));
    EXPECT_EQ(viewer->Image1->Graphic()->Width(), 30);
}

TEST_F(Viewer, OpensShowingTheMainWindowsPicture) {
    LoadWholePictureFile(*Form1->Image1, WriteJpeg("1.jpg", 100, 80));
    TForm2* viewer = OpenViewer();
    ASSERT_NE(viewer->Image1->Graphic(), nullptr);
    EXPECT_EQ(viewer->Image1->Graphic()->Width(), 100);
    const QImage shot = viewer->grab().toImage();
    EXPECT_GT(shot.pixelColor(3, 3).red(), 200);
    EXPECT_LT(shot.pixelColor(3, 3).green(), 60);
    EXPECT_EQ(shot.pixelColor(120, 10), viewer->palette().color(QPalette::Button));

    EXPECT_EQ(viewer->Image1->FileName(), Form1->Image1->FileName());

    // A picture loaded into the viewer alone leaves the main window's.
    LoadPictureFile(*viewer->Image1, WriteJpeg("2.jpg", 30, 20));
    EXPECT_EQ(viewer->Image1->Graphic()->Width(), 30);
    EXPECT_EQ(Form1->Image1->Graphic()->Width(), 100);
}
