#include "tests/app/DownloadRunFixture.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/NginxServer.h"
#include "toolkit/widgets/TImage.h"

#include <QLineEdit>
#include <QTimer>

#include <climits>
#include <cstdio>
#include <filesystem>

namespace {

// A wallpaper site on a real nginx: pages at the run's addresses, pictures
// under /images/, everything written by the test.
class Site {
public:
    std::string BaseUrl() const { return m_server.BaseUrl(); }

    std::string PictureUrl(int number) const {
        return m_server.Url("/images/" + std::to_string(number) + ".jpg");
    }
    std::string ImageTag(int number) const {
        return "<img class=\"wallpaper\" src=\"" + PictureUrl(number) + "\" alt=\"Wallpaper " +
               std::to_string(number) + "\">";
    }

    // A page like a real wallpaper site's, CR LF line ends, with the image
    // tag on its own line; and its picture.
    std::string AddWallpaper(int number, int width, int height) {
        AddPage(number, "<!DOCTYPE html>\r\n"
                        "<html>\r\n"
                        "<head><title>Wallpaper " +
                            std::to_string(number) +
                            "</title></head>\r\n"
                            "<body>\r\n"
                            "<div class=\"picture\">\r\n" +
                            ImageTag(number) +
                            "\r\n"
                            "</div>\r\n"
                            "</body>\r\n"
                            "</html>\r\n");
        return AddPicture(number, MakeJpeg(width, height));
    }
    void AddPage(int number, const std::string& page) const {
        m_server.WriteFile(PagePath(number).substr(1), page);
    }
    std::string AddPicture(int number, const std::string& bytes) const {
        m_server.WriteFile("images/" + std::to_string(number) + ".jpg", bytes);
        return bytes;
    }

    // The requests nginx has answered, once there are `expected` of them.
    int Requests(size_t expected, const std::string& pathPrefix) {
        const std::string log = m_server.WaitForAccessLogLines(expected);
        int count = 0;
        for (size_t at = log.find("\"GET " + pathPrefix); at != std::string::npos;
             at = log.find("\"GET " + pathPrefix, at + 1))
            ++count;
        return count;
    }
    size_t LogLines() const {
        const std::string log = m_server.AccessLog();
        return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
    }

private:
    NginxServer m_server;
};

class DownloadRun : public DownloadRunTest {
protected:
    void SetUp() override {
        DownloadRunTest::SetUp();
        Form1->SiteAddress = m_site.BaseUrl();
    }
    Site m_site;
};

} // namespace

TEST_F(DownloadRun, SavesShowsAndLogsEveryNumberAndFetchesNoPictureTwice) {
    std::vector<std::string> pictures;
    for (int number = 200; number <= 205; ++number)
        pictures.push_back(m_site.AddWallpaper(number, 300 + number - 200, 200 + number - 200));

    // A double-click on the picture during the run opens a viewer that the
    // later pictures go to.
    TForm2* const hidden = Form2;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (LogText().find("202") == std::string::npos)
            return;
        poll.stop();
        QTest::mouseDClick(Form1->Image1, Qt::LeftButton);
    });
    poll.start();

    ClickDownload(200, 205);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    for (int number = 200; number <= 205; ++number)
        EXPECT_EQ(ReadFile(PictureFile(number)), pictures[static_cast<size_t>(number - 200)])
            << number;
    EXPECT_EQ(LogText(), "200\r\n201\r\n202\r\n203\r\n204\r\n205\r\n");
    EXPECT_EQ(Form1->Edit1->text().toStdString(), m_site.BaseUrl() + PagePath(205));
    EXPECT_EQ(Form1->Image1->size(), QSize(305, 205)) << "the last picture, at its natural size";
    ASSERT_NE(Form2, hidden);
    EXPECT_TRUE(Form2->isVisible());
    ASSERT_NE(Form2->Image1->Graphic(), nullptr);
    EXPECT_EQ(Form2->Image1->Graphic()->Width(), 305);
    ASSERT_NE(hidden->Image1->Graphic(), nullptr) << "the hidden viewer got the earlier pictures";
    EXPECT_LT(hidden->Image1->Graphic()->Width(), 305);
    EXPECT_EQ(CurrentNumber, 206);
    EXPECT_TRUE(Form1->Button2->isEnabled());
    EXPECT_EQ(m_site.Requests(12, "/images/"), 6);

    // Every page is fetched again; the saved pictures are shown from disk.
    ClickDownload(200, 205);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_EQ(m_site.Requests(18, "/wallpapers/"), 12);
    EXPECT_EQ(m_site.Requests(18, "/images/"), 6);
    const std::string twice = "200\r\n201\r\n202\r\n203\r\n204\r\n205\r\n"
                              "200\r\n201\r\n202\r\n203\r\n204\r\n205\r\n";
    EXPECT_EQ(LogText(), twice);
    EXPECT_EQ(Form1->Image1->size(), QSize(305, 205));

    // To below From: nothing is fetched and the window keeps its text.
    const QString address = Form1->Edit1->text();
    ClickDownload(300, 299);
    EXPECT_EQ(LogText(), twice);
    EXPECT_EQ(Form1->Edit1->text(), address);
    // The next request nginx logs is the next run's.
    ClickDownload(205, 205);
    EXPECT_EQ(m_site.Requests(19, "/wallpapers/"), 13);
    EXPECT_EQ(m_site.LogLines(), 19u);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
}

TEST_F(DownloadRun, ReadsPagesLineByLineWhateverTheirLineEnds) {
    // 200: marker lines 3 and 7: one download, logged twice.
    m_site.AddPage(200, "<html>\r\n<body>\r\n" + m_site.ImageTag(200) +
                            "\r\n<p>\r\n</p>\r\n<hr>\r\n" + m_site.ImageTag(200) +
                            "\r\n</body>\r\n");
    const std::string picture200 = m_site.AddPicture(200, MakeJpeg(40, 30));
    // 201: near misses of the marker only.
    m_site.AddPage(201, "<img class=\"thumb\" src=\"" + m_site.PictureUrl(201) +
                            "\">\r\n<img class='wallpaper' src='" + m_site.PictureUrl(201) +
                            "'>\r\n<IMG CLASS=\"wallpaper\" SRC=\"" + m_site.PictureUrl(201) +
                            "\">\r\n<img  class=\"wallpaper\" src=\"" + m_site.PictureUrl(201) +
                            "\">\r\n");
    m_site.AddPicture(201, MakeJpeg(10, 10));
    // 202: an empty page. 203: no page at all (nginx's 404 page).
    m_site.AddPage(202, "");
    // 204 and 205: two marker lines each, with LF-only and CR-only line ends,
    // so that a page taken as one line would log its number once.
    m_site.AddPage(204, "<html>\n" + m_site.ImageTag(204) + "\n" + m_site.ImageTag(204) + "\n");
    const std::string picture204 = m_site.AddPicture(204, MakeJpeg(41, 30));
    m_site.AddPage(205, "<html>\r" + m_site.ImageTag(205) + "\r" + m_site.ImageTag(205) + "\r");
    const std::string picture205 = m_site.AddPicture(205, MakeJpeg(42, 30));
    // 206: the marker lies after a NUL character, where the text ends.
    m_site.AddPage(206, std::string("<html>\r\n\0", 9) + m_site.ImageTag(206) + "\r\n");
    m_site.AddPicture(206, MakeJpeg(10, 10));
    // 207: the marker on a last line without a line end.
    m_site.AddPage(207, "<html>\r\n" + m_site.ImageTag(207));
    const std::string picture207 = m_site.AddPicture(207, MakeJpeg(43, 30));

    ClickDownload(200, 207);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_EQ(LogText(), "200\r\n200\r\n204\r\n204\r\n205\r\n205\r\n207\r\n");
    EXPECT_EQ(ReadFile(PictureFile(200)), picture200);
    EXPECT_EQ(ReadFile(PictureFile(204)), picture204);
    EXPECT_EQ(ReadFile(PictureFile(205)), picture205);
    EXPECT_EQ(ReadFile(PictureFile(207)), picture207);
    for (const int skipped : { 201, 202, 203, 206 })
        EXPECT_FALSE(std::filesystem::exists(PictureFile(skipped))) << skipped;
    EXPECT_EQ(m_site.Requests(12, "/images/"), 4) << "one download per picture";
    EXPECT_EQ(Form1->Image1->size(), QSize(43, 30));
    EXPECT_EQ(CurrentNumber, 208);
}

TEST_F(DownloadRun, PictureThatFailsEndsTheRunAndLeavesNoFileOfItsOwn) {
    m_site.AddWallpaper(200, 50, 40);
    m_site.AddWallpaper(201, 60, 40);
    m_site.AddPicture(201, "<html><body>Not found</body></html>\r\n");
    m_site.AddWallpaper(202, 70, 40);
    m_site.AddPage(203, "<p>\r\n" + m_site.ImageTag(203) + "\r\n");

    // A page served as the picture: the run ends at its number, shows the
    // previous picture, and removes what it saved so that the next run
    // fetches it anew.
    ClickDownload(200, 202);
    EXPECT_EQ(m_errors, std::vector<std::string> { "JPEG error #53." });
    EXPECT_EQ(LogText(), "200\r\n");
    EXPECT_FALSE(std::filesystem::exists(PictureFile(201)));
    EXPECT_FALSE(std::filesystem::exists(PictureFile(202)));
    EXPECT_EQ(Form1->Image1->size(), QSize(50, 40));
    EXPECT_EQ(CurrentNumber, 201);
    EXPECT_EQ(Form1->Edit1->text().toStdString(), m_site.BaseUrl() + PagePath(201));
    EXPECT_TRUE(Form1->Button2->isEnabled());

    // A bad file that was there before the run is the user's: it stays, and
    // is not fetched again.
    m_errors.clear();
    std::ofstream(PictureFile(201), std::ios::binary) << "mine";
    ClickDownload(201, 201);
    EXPECT_EQ(m_errors, std::vector<std::string> { "JPEG error #53." });
    EXPECT_EQ(ReadFile(PictureFile(201)), "mine");
    EXPECT_EQ(m_site.Requests(5, "/images/201.jpg"), 1);

    // A picture the server does not have: the fetcher's error, no file.
    m_errors.clear();
    ClickDownload(203, 205);
    EXPECT_EQ(m_errors, std::vector<std::string> { "Cannot download \"" + m_site.PictureUrl(203) +
                                                   "\": HTTP status 404." });
    EXPECT_FALSE(std::filesystem::exists(PictureFile(203)));
    EXPECT_EQ(LogText(), "200\r\n");
    EXPECT_EQ(CurrentNumber, 203);
}

TEST_F(DownloadRun, PictureAddressTooLongEndsTheRunWithoutARequest) {
    std::string address = m_site.BaseUrl() + "/images/";
    address += std::string(70000 - address.size() - 4, 'a') + ".jpg";
    ASSERT_EQ(address.size(), 70000U);
    m_site.AddPage(200, "<p>\r\n<img class=\"wallpaper\" src=\"" + address + "\">\r\n");
    m_site.AddWallpaper(201, 50, 40);

    ClickDownload(200, 201);
    EXPECT_EQ(m_errors, std::vector<std::string> { "Picture address too long." });
    EXPECT_FALSE(std::filesystem::exists(PictureFile(200)));
    EXPECT_EQ(LogText(), "");
    EXPECT_EQ(CurrentNumber, 200);
    EXPECT_EQ(m_site.Requests(1, "/wallpapers/"), 1);
    EXPECT_EQ(m_site.LogLines(), 1U) << "the page alone, no picture request";
}

TEST_F(DownloadRun, StopFlagAlreadySetHandlesTheFirstLineOfTheFirstPageOnly) {
    m_site.AddPage(200, m_site.ImageTag(200) + "\r\n" + m_site.ImageTag(200) + "\r\n");
    m_site.AddPicture(200, MakeJpeg(30, 20));
    m_site.AddWallpaper(201, 31, 20);
    m_site.AddWallpaper(300, 32, 20); // the marker is on its sixth line

    QTest::mouseClick(Form1->Button3, Qt::LeftButton);
    ASSERT_EQ(Form1->Button3->text(), "разрешить");

    ClickDownload(200, 201);
    EXPECT_EQ(LogText(), "200\r\n") << "the first line only, although the second holds the marker";
    EXPECT_TRUE(std::filesystem::exists(PictureFile(200)));
    EXPECT_EQ(CurrentNumber, 200);

    ClickDownload(300, 301);
    EXPECT_EQ(LogText(), "200\r\n");
    EXPECT_FALSE(std::filesystem::exists(PictureFile(300)));
    EXPECT_EQ(CurrentNumber, 300);
    EXPECT_EQ(m_site.Requests(3, "/wallpapers/"), 2) << "one page per run";
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_EQ(StopFlag, 1);
}

TEST_F(DownloadRun, CountingPastTheLargestNumberWraps) {
    // Programmatic values: the "От:" box is not clamped until it loses the
    // focus, so any 32-bit number can reach the run.
    Form1->SpinEdit1->SetText(QString::number(INT32_MAX - 1));
    Form1->SpinEdit2->SetText(QString::number(INT32_MAX));
    EXPECT_TRUE(RunHandler([] { Form1->Button2Click(); }));
    EXPECT_EQ(CurrentNumber, INT32_MIN);
    EXPECT_EQ(m_site.Requests(2, "/wallpapers/get/id/21474836"), 2);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
}

TEST_F(DownloadRun, PicturesGoBesideTheProgramFileByDefault) {
    // An unusual number, as the directory is the test program's own.
    const int number = 22987;
    m_site.AddWallpaper(number, 20, 20);
    Form1->PictureDirectory.clear();
    const std::string expected = QCoreApplication::applicationDirPath().toStdString() + "/" +
                                 std::to_string(number) + ".jpg";
    std::filesystem::remove(expected);
    ClickDownload(number, number);
    EXPECT_TRUE(std::filesystem::exists(expected));
    std::filesystem::remove(expected);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
}
