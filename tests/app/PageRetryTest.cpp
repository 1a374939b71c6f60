// Transient failures of a page fetch are tried again, with waits that keep
// the window alive and that the stop button ends.
#include "app/RetryPolicy.h"
#include "tests/app/DownloadRunFixture.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/LoopbackPeer.h"

#include <QLabel>
#include <QTimer>

#include <chrono>
#include <functional>
#include <mutex>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(RetryPolicy, WhatIsTriedAgainAndHowLongItWaits) {
    for (const int status : { 429, 500, 502, 503, 504 })
        EXPECT_TRUE(IsTransientStatus(status)) << status;
    for (const int status : { 0, 200, 301, 400, 403, 404, 410, 501, 505 })
        EXPECT_FALSE(IsTransientStatus(status)) << status;

    for (const char* transient :
         { "Connection Failed", "Connection Timed out", "Timed out waiting for response",
           "Connection closed without response", "Connection closed before the whole body arrived",
           "Connection closed before the whole header arrived", "10054:Connection reset by peer",
           "10053:Software caused connection abort", "10061:Connection refused",
           "10060:Connection timed out", "10052:Network dropped connection or reset" })
        EXPECT_TRUE(IsTransientPageError(transient, false)) << transient;
    for (const char* permanent :
         { "Null Remote Address", "Host Lookup Failed", "Response too large", "Too many redirects",
           "Response header line too long", "Response header too large", "10065:No route to Host",
           "Socket capture aborted", "" })
        EXPECT_FALSE(IsTransientPageError(permanent, false)) << permanent;
    // Whatever the component raised when its time limit ended the transfer.
    EXPECT_TRUE(IsTransientPageError("Socket capture aborted", true));

    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\nRetry-After: 7\r\n\r\n"), 7);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\nretry-after:\t12 \n\n"), 12);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 429 Slow down\r\nRETRY-AFTER: 0\r\n"), 0);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\nRetry-After: 99999999999999999999\r\n"),
              999999999);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\n\r\n"), std::nullopt);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\nRetry-After: Wed, 21 Oct 2026 07:28:00 "
                                "GMT\r\n"),
              std::nullopt)
        << "a date is left to the scheduled waits";
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\nRetry-After: -5\r\n"), std::nullopt);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\nX-Retry-After: 5\r\n"), std::nullopt);

    EXPECT_EQ(DefaultRetryWaits, (TRetryWaits { 1000, 2000, 4000 }));
    EXPECT_EQ(RetryWait(1, DefaultRetryWaits, std::nullopt), 1000);
    EXPECT_EQ(RetryWait(2, DefaultRetryWaits, std::nullopt), 2000);
    EXPECT_EQ(RetryWait(3, DefaultRetryWaits, std::nullopt), 4000);
    EXPECT_EQ(RetryWait(1, DefaultRetryWaits, 5), 5000);
    EXPECT_EQ(RetryWait(3, DefaultRetryWaits, 0), 0);
    EXPECT_EQ(RetryWait(2, DefaultRetryWaits, 61), 60000);
    EXPECT_EQ(RetryWait(2, DefaultRetryWaits, 999999999), 60000);
}

const std::string Busy = "HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/html\r\n\r\n"
                         "<html>busy</html>\r\n";

// The run's pages, and pictures, from one scripted peer that notes when
// each connection arrived.
class PageRetry : public DownloadRunTest {
protected:
    void SetUp() override {
        DownloadRunTest::SetUp();
        Form1->SiteAddress = "http://127.0.0.1:" + std::to_string(m_peer.Port());
        Form1->RetryWaits = { 150, 300, 600 };
    }

    // Accepts the next connection, noting its time, and reads the request.
    LoopbackPeer& Next() {
        return m_peer.Accept()
            .Run([this] {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_arrivals.push_back(Clock::now());
            })
            .ReadUntil("\r\n\r\n");
    }
    // The pause between the arrival of connection `index` and the next one.
    Clock::duration Gap(size_t index) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return index + 1 < m_arrivals.size() ? m_arrivals[index + 1] - m_arrivals[index]
                                             : Clock::duration::zero();
    }
    std::string WallpaperPage(int number) const {
        return "HTTP/1.0 200 OK\r\n\r\n<img class=\"wallpaper\" src=\"http://127.0.0.1:" +
               std::to_string(m_peer.Port()) + "/" + std::to_string(number) + ".jpg\">\r\n";
    }
    static std::string Picture(const std::string& jpeg) {
        return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(jpeg.size()) + "\r\n\r\n" +
               jpeg;
    }
    // Calls action once, from inside the run, when the status line shows
    // text.
    void WhenStatusShows(const std::string& text, const std::function<void()>& action) {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this, text, action] {
            if (Status().find(text) == std::string::npos)
                return;
            m_poll.stop();
            action();
        });
        m_poll.start();
    }
    std::string Status() const {
        return Form1->Label3->text().replace(QChar::Nbsp, QLatin1Char(' ')).toStdString();
    }

    LoopbackPeer m_peer;
    QTimer m_poll;
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_arrivals;
};

} // namespace

TEST_F(PageRetry, TwoFailuresThenThePageArrives) {
    const std::string jpeg = MakeJpeg(32, 24);
    Next().Reset();
    Next().Send("HTTP/1.0 503 Busy\r\nRetry-After: 1\r\n\r\n").Close();
    Next().Send(WallpaperPage(200)).Close();
    Next().Send(Picture(jpeg)).Close();
    m_peer.Start();

    ClickDownload(200, 200);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    ASSERT_TRUE(m_peer.WaitDone());
    EXPECT_EQ(m_peer.Failure(), "");
    EXPECT_EQ(m_peer.AcceptedCount(), 4);
    EXPECT_EQ(ReadFile(PictureFile(200)), jpeg);
    EXPECT_EQ(LogText(), "200\r\n");
    EXPECT_EQ(CurrentNumber, 201);
    EXPECT_GE(Gap(0), 150ms) << "the first scheduled wait";
    EXPECT_GE(Gap(1), 1000ms) << "the server's Retry-After";
    EXPECT_EQ(Status(), "Сохранено: 1 · уже были: 0 · без картинки: 0");
}

TEST_F(PageRetry, BusyPageIsTriedFourTimesThenReadAsItIs) {
    for (int i = 0; i < 4; ++i)
        Next().Send(Busy).Close();
    Next().Send(WallpaperPage(201)).Close();
    Next().Send(Picture(MakeJpeg(8, 8))).Close();
    m_peer.Start();

    ClickDownload(200, 201);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    ASSERT_TRUE(m_peer.WaitDone());
    EXPECT_EQ(m_peer.AcceptedCount(), 6);
    EXPECT_EQ(Form1->KvHTTP1.Body, "<img class=\"wallpaper\" src=\"http://127.0.0.1:" +
                                       std::to_string(m_peer.Port()) + "/201.jpg\">\r\n");
    EXPECT_EQ(LogText(), "201\r\n") << "200 had no picture to show";
    EXPECT_GE(Gap(0), 150ms);
    EXPECT_GE(Gap(1), 300ms);
    EXPECT_GE(Gap(2), 600ms);
    EXPECT_EQ(Status(), "Сохранено: 1 · уже были: 0 · без картинки: 1");
}

TEST_F(PageRetry, FailureThatPersistsEndsTheRunWithItsOwnError) {
    for (int i = 0; i < 4; ++i)
        Next().Reset();
    m_peer.Start();
    ClickDownload(200, 205);
    ASSERT_TRUE(m_peer.WaitDone());
    EXPECT_EQ(m_peer.AcceptedCount(), 4);
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_TRUE(m_errors[0] == "Connection closed without response." ||
                m_errors[0] == "10054:Connection reset by peer.")
        << m_errors[0];
    EXPECT_EQ(CurrentNumber, 200);
    EXPECT_EQ(LogText(), "");
    EXPECT_TRUE(Form1->Button2->isEnabled());
}

TEST_F(PageRetry, PermanentFailuresAndARunThatIsToStopAreNotTriedAgain) {
    // The connection that a second try would make is never accepted.
    Next().Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n").Close();
    Next().Reset();
    m_peer.Start();
    Form1->KvHTTP1.MaxBodySize = 10;
    ClickDownload(200, 200);
    EXPECT_EQ(m_errors, std::vector<std::string> { "Response too large." });
    EXPECT_EQ(m_peer.AcceptedCount(), 1);
    m_peer.Stop();

    // With the stop flag set the run ends after this page anyway: its
    // failure is told at once.
    m_errors.clear();
    LoopbackPeer resetting;
    resetting.Accept().ReadUntil("\r\n\r\n").Reset().Accept().Reset();
    resetting.Start();
    Form1->SiteAddress = "http://127.0.0.1:" + std::to_string(resetting.Port());
    QTest::mouseClick(Form1->Button3, Qt::LeftButton);
    ClickDownload(200, 200);
    EXPECT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(resetting.AcceptedCount(), 1);
}

TEST_F(PageRetry, StopButtonEndsAWaitAtOnce) {
    Next().Send("HTTP/1.0 503 Busy\r\nRetry-After: 60\r\n\r\n").Close();
    m_peer.Start();
    Clock::time_point pressed;
    WhenStatusShows("повтор через 60 с", [&] {
        pressed = Clock::now();
        QTest::mouseClick(Form1->Button3, Qt::LeftButton);
    });

    ClickDownload(200, 205);
    const Clock::time_point ended = Clock::now();
    ASSERT_NE(pressed, Clock::time_point {}) << "the run never waited";
    EXPECT_LT(ended - pressed, 200ms);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_EQ(StopFlag, 1);
    EXPECT_EQ(CurrentNumber, 200);
    EXPECT_EQ(LogText(), "");
    EXPECT_EQ(m_peer.AcceptedCount(), 1);
    EXPECT_EQ(Status(), "Сохранено: 0 · уже были: 0 · без картинки: 0");
    EXPECT_TRUE(Form1->Button2->isEnabled());
}

TEST_F(PageRetry, ClosingTheWindowEndsAWait) {
    Next().Send(Busy).Close();
    m_peer.Start();
    Form1->RetryWaits = { 60000, 60000, 60000 };
    WhenStatusShows("повтор через 60 с", [] { Form1->close(); });

    const Clock::time_point started = Clock::now();
    ClickDownload(200, 205);
    EXPECT_LT(Clock::now() - started, 30s);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_TRUE(m_application->Terminated());
    EXPECT_EQ(StopFlag, 0);
    EXPECT_EQ(m_peer.AcceptedCount(), 1);
}
