#include "tests/app/DownloadRunFixture.h"
#include "tests/support/LoopGapMeter.h"
#include "tests/support/NginxServer.h"
#include "toolkit/widgets/TImage.h"

#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A site whose pictures come slowly: nginx sends them at 1 MB/s, and the one
// picture is far larger than any test waits for.
class DownloadRunPicture : public DownloadRunTest {
protected:
    static NginxServer::Options Throttled() {
        NginxServer::Options options;
        options.serverConfig = "location /images/ { limit_rate 1m; }\n";
        return options;
    }

    void SetUp() override {
        DownloadRunTest::SetUp();
        Form1->SiteAddress = m_server.BaseUrl();
        m_server.WriteFile(PagePath(200).substr(1), "<html>\r\n<img class=\"wallpaper\" src=\"" +
                                                        PictureUrl() +
                                                        "\" alt=\"Wallpaper 200\">\r\n</html>\r\n");
        m_server.WriteSparseFile("images/200.jpg", 40ull * 1024 * 1024);
    }

    std::string PictureUrl() const { return m_server.Url("/images/200.jpg"); }

    // Calls action once, from inside the picture's transfer, when the fetch
    // has been going for a while; and started when it is first seen.
    void MidPicture(
        const std::function<void()>& action, const std::function<void()>& started = [] {}) {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this, action, started] {
            if (!Form1->ImageFetcher1.Fetching()) {
                m_fetchSeen = {};
                return;
            }
            if (m_fetchSeen == Clock::time_point {}) {
                m_fetchSeen = Clock::now();
                started();
            }
            if (Clock::now() - m_fetchSeen < 300ms)
                return;
            m_poll.stop();
            action();
        });
        m_poll.start();
    }

    std::vector<std::string> PictureEntries() const {
        std::vector<std::string> names;
        for (const auto& entry :
             std::filesystem::directory_iterator(m_pictures.path().toStdString()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    NginxServer m_server { Throttled() };
    QTimer m_poll;
    Clock::time_point m_fetchSeen {};
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int Paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++Paints;
        return false;
    }
};

} // namespace

TEST_F(DownloadRunPicture, WindowStaysAliveAndStopEndsTheRunQuietly) {
    LoopGapMeter meter(10ms);
    PaintCounter paints;
    Form1->installEventFilter(&paints);
    TForm2* viewerBefore = Form2;
    bool buttonEnabled = true;
    std::chrono::milliseconds longestGap {};
    int paintsBefore = 0;
    Clock::time_point stoppedAt {};
    MidPicture(
        [&] {
            longestGap = meter.Longest();
            buttonEnabled = Form1->Button2->isEnabled();
            paintsBefore = paints.Paints;
            Form1->update();
            QTest::mouseDClick(Form1->Image1, Qt::LeftButton);
            QTest::qWait(50);
            stoppedAt = Clock::now();
            QTest::mouseClick(Form1->Button3, Qt::LeftButton);
        },
        [&] { meter.Restart(); });
    ClickDownload(200, 205);
    const auto stopTook = Clock::now() - stoppedAt;

    EXPECT_LT(longestGap, 100ms);
    EXPECT_FALSE(buttonEnabled) << "runs never nest";
    EXPECT_GT(paints.Paints, paintsBefore) << "the window repainted";
    EXPECT_NE(Form2, viewerBefore) << "a double-click opened a new viewer";
    EXPECT_LT(stopTook, 200ms);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_EQ(PictureEntries(), std::vector<std::string> {}) << "no picture, no temporary file";
    EXPECT_EQ(LogText(), "");
    EXPECT_EQ(CurrentNumber, 200);
    EXPECT_EQ(StopFlag, 1);
    EXPECT_TRUE(Form1->Button2->isEnabled());
    EXPECT_FALSE(Form1->ImageFetcher1.Fetching());
}

TEST_F(DownloadRunPicture, ClosingTheWindowMidPictureClosesItAndSavesTheLog) {
    Form1->Memo1->AddLine("199");
    MidPicture([] { Form1->close(); });
    ClickDownload(200, 205);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_TRUE(m_application->Terminated());
    EXPECT_EQ(ReadFile(m_dir.filePath("log.log").toStdString()), "199\r\n");
    EXPECT_EQ(PictureEntries(), std::vector<std::string> {});
    EXPECT_EQ(StopFlag, 0);
}

TEST_F(DownloadRunPicture, APictureOverABoundEndsTheRunWithItsError) {
    Form1->ImageFetcher1.MaxPictureSize = uint64_t { 1024 } * 1024;
    ClickDownload(200, 205);
    EXPECT_EQ(m_errors, std::vector<std::string> { "Cannot download \"" + PictureUrl() +
                                                   "\": Picture too large." });
    EXPECT_EQ(PictureEntries(), std::vector<std::string> {});
    EXPECT_EQ(CurrentNumber, 200);
    EXPECT_TRUE(Form1->Button2->isEnabled());
}
