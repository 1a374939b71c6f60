#include "tests/app/DownloadRunFixture.h"
#include "tests/support/LoopbackPeer.h"

#include <QLineEdit>
#include <QTimer>

#include <atomic>
#include <functional>

namespace {

using namespace std::chrono_literals;

// The run's page fetches against scripted peers on loopback.
class DownloadRunStop : public DownloadRunTest {
protected:
    static std::string SiteOf(const LoopbackPeer& peer) {
        return "http://127.0.0.1:" + std::to_string(peer.Port());
    }

    // A server that answers a page's head at once and then drips its body,
    // a few bytes at a time, for far longer than any test runs.
    static void DripPage(LoopbackPeer& peer, std::atomic<bool>& headSent) {
        std::string body;
        for (int line = 0; line < 2000; ++line)
            body += "<p>line " + std::to_string(line) + "</p>\r\n";
        peer.Accept()
            .ReadUntil("\r\n\r\n")
            .Send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>\r\n")
            .Run([&headSent] { headSent = true; })
            .SendInPieces(body, 9, 3, 50ms);
        peer.Start();
    }

    // Calls action once, from inside the run's page fetch, when ready()
    // holds; records whether the download button was disabled then.
    void WhenFetching(const std::function<bool()>& ready, const std::function<void()>& action) {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this, ready, action] {
            if (!ready())
                return;
            m_poll.stop();
            m_buttonEnabledDuringRun = Form1->Button2->isEnabled();
            m_runningDuringFetch = Form1->Running();
            action();
        });
        m_poll.start();
    }

    QTimer m_poll;
    bool m_buttonEnabledDuringRun { true };
    bool m_runningDuringFetch { false };
};

} // namespace

TEST_F(DownloadRunStop, HttpComponentCarriesTheWindowsSettings) {
    const TKvHTTP& http = Form1->KvHTTP1;
    EXPECT_EQ(http.Body, "Default.htm");
    EXPECT_EQ(http.Header, "Head.txt");
    EXPECT_FALSE(http.InputFileMode);
    EXPECT_FALSE(http.OutputFileMode);
    EXPECT_EQ(http.ProxyPort, 8080);
    EXPECT_EQ(http.Port, 0);
    EXPECT_EQ(http.ReportLevel, 0);
    EXPECT_EQ(http.Proxy, "");
    // Deliberately not the component's "no limit" defaults: a silent, dripping
    // or endless server would otherwise hold the run for ever.
    EXPECT_EQ(http.TimeOut, 30000);
    EXPECT_EQ(http.MaxBodySize, 64 * 1024 * 1024);
    EXPECT_EQ(http.MinRateBytes, 1024);
    EXPECT_EQ(http.MinRatePeriod, 30000);
    EXPECT_FALSE(http.OnStatus || http.OnSuccess || http.OnFailure || http.OnRedirect ||
                 http.OnConnect || http.OnDisconnect || http.OnAboutToSend);
    EXPECT_EQ(Form1->SiteAddress, DefaultSiteAddress);
}

TEST_F(DownloadRunStop, StopButtonEndsASlowPageAtOnceAndQuietly) {
    LoopbackPeer slow;
    std::atomic<bool> headSent { false };
    DripPage(slow, headSent);
    Form1->SiteAddress = SiteOf(slow);
    WhenFetching([&] { return headSent.load(); },
                 [] { QTest::mouseClick(Form1->Button3, Qt::LeftButton); });

    ClickDownload(200, 205);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_FALSE(slow.WaitDone(0ms)) << "the run ended while the page was still coming";
    EXPECT_FALSE(m_buttonEnabledDuringRun) << "no second run inside the first";
    EXPECT_TRUE(m_runningDuringFetch);
    EXPECT_TRUE(Form1->Button2->isEnabled());
    EXPECT_FALSE(Form1->Running());
    EXPECT_EQ(StopFlag, 1);
    EXPECT_EQ(Form1->Button3->text(), "разрешить");
    EXPECT_EQ(CurrentNumber, 200);
    EXPECT_EQ(LogText(), "");
    EXPECT_EQ(Form1->Edit1->text().toStdString(), SiteOf(slow) + PagePath(200));
    slow.Stop();

    // Allowed again, the next run starts at "От:" and the component works.
    LoopbackPeer quick;
    quick.Accept()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 200 OK\r\n\r\n<html>no picture here</html>\r\n")
        .Close();
    quick.Start();
    Form1->SiteAddress = SiteOf(quick);
    QTest::mouseClick(Form1->Button3, Qt::LeftButton);
    ASSERT_EQ(StopFlag, 0);
    ClickDownload(200, 200);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    ASSERT_TRUE(quick.WaitDone());
    EXPECT_EQ(quick.Failure(), "");
    EXPECT_EQ(Form1->KvHTTP1.Body, "<html>no picture here</html>\r\n");
    EXPECT_EQ(CurrentNumber, 201);
}

TEST_F(DownloadRunStop, ClosingTheWindowEndsTheRunAndTheProgram) {
    LoopbackPeer slow;
    std::atomic<bool> headSent { false };
    DripPage(slow, headSent);
    Form1->SiteAddress = SiteOf(slow);
    Form1->Memo1->AddLine("199");
    WhenFetching([&] { return headSent.load(); }, [] { Form1->close(); });

    ClickDownload(200, 205);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_FALSE(slow.WaitDone(0ms));
    EXPECT_TRUE(m_application->Terminated());
    EXPECT_EQ(ReadFile(m_dir.filePath("log.log").toStdString()), "199\r\n");
    EXPECT_EQ(StopFlag, 0) << "a close leaves the stop button's flag alone";
    EXPECT_EQ(LogText(), "199\r\n");
    slow.Stop();
}

TEST_F(DownloadRunStop, FetchFailuresEndTheRunWithTheComponentsError) {
    // Nobody listens.
    Form1->SiteAddress = "http://127.0.0.1:" + std::to_string(LoopbackPeer::UnusedPort());
    ClickDownload(200, 205);
    EXPECT_EQ(m_errors, std::vector<std::string> { "Connection Failed." });
    EXPECT_EQ(Form1->Edit1->text().toStdString(), Form1->SiteAddress + PagePath(200));
    EXPECT_EQ(CurrentNumber, 200);
    EXPECT_EQ(LogText(), "");
    EXPECT_TRUE(Form1->Button2->isEnabled());

    // A server that takes the request and never answers: the time limit
    // ends the run (shortened here from the window's 30 seconds).
    m_errors.clear();
    LoopbackPeer silent;
    silent.Accept().ReadUntil("\r\n\r\n").Stall();
    silent.Start();
    Form1->SiteAddress = SiteOf(silent);
    Form1->KvHTTP1.TimeOut = 200;
    ClickDownload(300, 301);
    EXPECT_EQ(m_errors, std::vector<std::string> { "Timed out waiting for response." });
    EXPECT_EQ(CurrentNumber, 300);
    EXPECT_TRUE(Form1->Button2->isEnabled());
    silent.Stop();
}
