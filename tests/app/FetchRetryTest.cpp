// Transient failures of a page fetch or a picture download are tried again,
// with waits that keep the window alive and that the stop button ends; and
// the picture's bytes show while it comes.
#include "app/RetryPolicy.h"
#include "platform/UrlService.h"
#include "tests/app/DownloadRunFixture.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/LoopbackPeer.h"

#include <QLabel>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <filesystem>
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

    // A page's failure by its kind: every kind, once.
    const struct {
        TSockFailure kind;
        bool transient;
    } pageFailures[] = {
        { TSockFailure::Refused, true },        { TSockFailure::Reset, true },
        { TSockFailure::TimedOut, true },       { TSockFailure::ClosedEarly, true },
        { TSockFailure::Canceled, false },      { TSockFailure::HostNotFound, false },
        { TSockFailure::TooLarge, false },      { TSockFailure::TooManyRedirects, false },
        { TSockFailure::ProxyTunnel, false },   { TSockFailure::Tls, false },
        { TSockFailure::ReceiveBuffer, false }, { TSockFailure::Socket, false },
        { TSockFailure::Misuse, false },
    };
    for (const auto& row : pageFailures)
        EXPECT_EQ(IsTransientPageError(row.kind), row.transient) << static_cast<int>(row.kind);

    for (const uint32_t code :
         { ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_CANNOT_CONNECT, ERROR_INTERNET_CONNECTION_ABORTED,
           ERROR_INTERNET_CONNECTION_RESET, ERROR_HTTP_INVALID_SERVER_RESPONSE })
        EXPECT_TRUE(IsTransientDownload(code, 0)) << code;
    for (const uint32_t code :
         { ERROR_INTERNET_OPERATION_CANCELLED, ERROR_INTERNET_NAME_NOT_RESOLVED,
           ERROR_INTERNET_SEC_INVALID_CERT, ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
           ERROR_FILE_TOO_LARGE, ERROR_HTTP_REDIRECT_FAILED, ERROR_INTERNET_INVALID_URL,
           ERROR_INTERNET_UNRECOGNIZED_SCHEME, ERROR_NOT_ENOUGH_MEMORY,
           ERROR_INTERNET_INTERNAL_ERROR })
        EXPECT_FALSE(IsTransientDownload(code, 0)) << code;
    EXPECT_TRUE(IsTransientDownload(0, 503));
    EXPECT_TRUE(IsTransientDownload(0, 429));
    EXPECT_FALSE(IsTransientDownload(0, 404));
    EXPECT_FALSE(IsTransientDownload(0, 403));

    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\nRetry-After: 7\r\n\r\n"), 7);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\nretry-after:\t12 \n\n"), 12);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 429 Slow down\r\nRETRY-AFTER: 0\r\n"), 0);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\nRetry-After: 99999999999999999999\r\n"),
              999999999);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\n\r\n"), std::nullopt);
    // A date counts from now: the three forms of HTTP, and one that has
    // passed. A two-digit year is the one within 50 years ahead or behind.
    const auto now = std::chrono::sys_days(std::chrono::year(1994) / 11 / 6) + 8h + 49min;
    const struct {
        const char* value;
        std::optional<int64_t> seconds;
    } dates[] = {
        { "Sun, 06 Nov 1994 08:49:37 GMT", 37 },
        { "Sunday, 06-Nov-94 08:49:37 GMT", 37 },
        { "Sun Nov  6 08:49:37 1994", 37 },
        { "Mon, 07 Nov 1994 08:49:00 GMT", 86400 },
        { "Thu, 01 Dec 1994 00:00:00 GMT", 2128260 },
        { "Saturday, 01-Jan-05 00:00:00 GMT", 320425860 },
        { "Sat, 05 Nov 1994 08:49:37 GMT", 0 },
        { "Thursday, 01-Jan-70 00:00:00 GMT", 0 },
        { "Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt },
        { "Sun, 31 Nov 1994 08:49:37 GMT", std::nullopt },
        { "Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt },
        { "Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt },
        { "sun, 06 nov 1994 08:49:37 gmt", std::nullopt },
        { "Sun Nov 06 08:49:37 1994 GMT", std::nullopt },
        { "soon", std::nullopt },
    };
    for (const auto& row : dates)
        EXPECT_EQ(RetryAfterSeconds(
                      std::string("HTTP/1.0 503 Busy\r\nRetry-After: ") + row.value + "\r\n", now),
                  row.seconds)
            << row.value;
    EXPECT_GT(RetryAfterSeconds("HTTP/1.0 503 Busy\r\nRetry-After: Fri, 01 Jan 2100 00:00:00 "
                                "GMT\r\n"),
              60)
        << "the current time by default";
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\nRetry-After: -5\r\n"), std::nullopt);
    EXPECT_EQ(RetryAfterSeconds("HTTP/1.0 503 Busy\r\nX-Retry-After: 5\r\n"), std::nullopt);

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
class FetchRetry : public DownloadRunTest {
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
    std::string PictureUrl(int number) const {
        return "http://127.0.0.1:" + std::to_string(m_peer.Port()) + "/" + std::to_string(number) +
               ".jpg";
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
    // Runs 200 alone, which the peer serves in four connections in all.
    void ExpectSavedAtTheFourthConnection(const std::string& jpeg) {
        ClickDownload(200, 200);
        EXPECT_EQ(m_errors, std::vector<std::string> {});
        ASSERT_TRUE(m_peer.WaitDone());
        EXPECT_EQ(m_peer.Failure(), "");
        EXPECT_EQ(m_peer.AcceptedCount(), 4);
        EXPECT_EQ(ReadFile(PictureFile(200)), jpeg);
        EXPECT_EQ(LogText(), "200\r\n");
    }
    // Runs 200 to 205 and presses the stop button once the run waits 60 s
    // before another try: the run ends at once and quietly.
    void ExpectStopEndsTheWait() {
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
        EXPECT_EQ(LogText(), "");
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

TEST_F(FetchRetry, TwoFailuresThenThePageArrives) {
    const std::string jpeg = MakeJpeg(32, 24);
    Next().Reset();
    Next().Send("HTTP/1.0 503 Busy\r\nRetry-After: 1\r\n\r\n").Close();
    Next().Send(WallpaperPage(200)).Close();
    Next().Send(Picture(jpeg)).Close();
    m_peer.Start();

    ExpectSavedAtTheFourthConnection(jpeg);
    EXPECT_EQ(CurrentNumber, 201);
    EXPECT_GE(Gap(0), 150ms) << "the first scheduled wait";
    EXPECT_GE(Gap(1), 1000ms) << "the server's Retry-After";
    EXPECT_EQ(Status(), "Сохранено: 1 · уже были: 0 · без картинки: 0");
}

TEST_F(FetchRetry, BusyPageIsTriedFourTimesThenReadAsItIs) {
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

TEST_F(FetchRetry, FailureThatPersistsEndsTheRunWithItsOwnError) {
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

TEST_F(FetchRetry, PermanentFailuresAndARunThatIsToStopAreNotTriedAgain) {
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

TEST_F(FetchRetry, StopButtonEndsAWaitAtOnce) {
    Next().Send("HTTP/1.0 503 Busy\r\nRetry-After: 60\r\n\r\n").Close();
    m_peer.Start();
    ExpectStopEndsTheWait();
    EXPECT_EQ(CurrentNumber, 200);
    EXPECT_EQ(m_peer.AcceptedCount(), 1);
    EXPECT_EQ(Status(), "Сохранено: 0 · уже были: 0 · без картинки: 0");
    EXPECT_TRUE(Form1->Button2->isEnabled());
}

TEST_F(FetchRetry, PageRetryAfterAsADateIsHonoured) {
    // Ten minutes from now, as an IMF-fixdate: the run waits the longest
    // wait a server may ask for.
    using namespace std::chrono;
    const auto later = floor<seconds>(system_clock::now()) + 10min;
    const auto day = floor<days>(later);
    const year_month_day date(day);
    const hh_mm_ss<seconds> time(later - day);
    constexpr const char* dayNames[] = { "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" };
    constexpr const char* monthNames[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    char value[64];
    std::snprintf(value, sizeof value, "%s, %02u %s %d %02d:%02d:%02d GMT",
                  dayNames[weekday(day).c_encoding()], unsigned(date.day()),
                  monthNames[unsigned(date.month()) - 1], int(date.year()),
                  int(time.hours().count()), int(time.minutes().count()),
                  int(time.seconds().count()));
    Next().Send(std::string("HTTP/1.0 503 Busy\r\nRetry-After: ") + value + "\r\n\r\n").Close();
    m_peer.Start();
    ExpectStopEndsTheWait();
    EXPECT_EQ(m_peer.AcceptedCount(), 1);
}

TEST_F(FetchRetry, ClosingTheWindowEndsAWait) {
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

TEST_F(FetchRetry, PictureThatFailsTwiceIsSavedAtTheThirdTry) {
    const std::string jpeg = MakeJpeg(40, 30);
    Next().Send(WallpaperPage(200)).Close();
    Next().Send("HTTP/1.0 503 Busy\r\nRetry-After: 1\r\nContent-Length: 4\r\n\r\nbusy").Close();
    Next().Reset();
    Next().Send(Picture(jpeg)).Close();
    m_peer.Start();

    ExpectSavedAtTheFourthConnection(jpeg);
    EXPECT_GE(Gap(1), 1000ms) << "the server's Retry-After";
    EXPECT_GE(Gap(2), 300ms) << "the second scheduled wait";
    EXPECT_EQ(Status(), "Сохранено: 1 · уже были: 0 · без картинки: 0");
}

TEST_F(FetchRetry, PictureThatStaysBusyEndsTheRunAfterFourTries) {
    Next().Send(WallpaperPage(200)).Close();
    for (int i = 0; i < 4; ++i)
        Next().Send("HTTP/1.0 503 Busy\r\nContent-Length: 4\r\n\r\nbusy").Close();
    m_peer.Start();

    ClickDownload(200, 201);
    EXPECT_EQ(m_errors, std::vector<std::string> { "Cannot download \"" + PictureUrl(200) +
                                                   "\": HTTP status 503." });
    ASSERT_TRUE(m_peer.WaitDone());
    EXPECT_EQ(m_peer.AcceptedCount(), 5);
    EXPECT_GE(Gap(1), 150ms);
    EXPECT_GE(Gap(2), 300ms);
    EXPECT_GE(Gap(3), 600ms);
    EXPECT_FALSE(std::filesystem::exists(PictureFile(200)));
    EXPECT_EQ(LogText(), "");
    EXPECT_EQ(CurrentNumber, 200);
    EXPECT_EQ(Status(), "Сохранено: 0 · уже были: 0 · без картинки: 0");
}

TEST_F(FetchRetry, PictureTheServerDoesNotHaveIsNotTriedAgain) {
    Next().Send(WallpaperPage(200)).Close();
    Next().Send("HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found").Close();
    // The connection that a second try would make is never accepted.
    Next().Reset();
    m_peer.Start();

    ClickDownload(200, 200);
    EXPECT_EQ(m_errors, std::vector<std::string> { "Cannot download \"" + PictureUrl(200) +
                                                   "\": HTTP status 404." });
    EXPECT_EQ(m_peer.AcceptedCount(), 2);
}

TEST_F(FetchRetry, StopButtonEndsAPictureWaitAtOnce) {
    Next().Send(WallpaperPage(200)).Close();
    Next().Send("HTTP/1.0 503 Busy\r\nRetry-After: 60\r\nContent-Length: 0\r\n\r\n").Close();
    m_peer.Start();
    ExpectStopEndsTheWait();
    EXPECT_EQ(m_peer.AcceptedCount(), 2);
    EXPECT_FALSE(std::filesystem::exists(PictureFile(200)));
}

TEST_F(FetchRetry, PictureBytesShowWhileItComes) {
    const std::string jpeg = MakeJpeg(600, 400) + std::string(200 * 1024, '\0');
    const std::string size = std::to_string(jpeg.size() / 1024) + " КБ";
    Next().Send(WallpaperPage(200)).Close();
    Next()
        .Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(jpeg.size()) + "\r\n\r\n")
        .SendInPieces(jpeg, 3, 16 * 1024, 5ms)
        .Close();
    m_peer.Start();
    std::vector<std::string> seen;
    m_poll.setInterval(2);
    QObject::connect(&m_poll, &QTimer::timeout, [&] {
        if (seen.empty() || seen.back() != Status())
            seen.push_back(Status());
    });
    m_poll.start();

    ClickDownload(200, 200);
    m_poll.stop();
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_EQ(ReadFile(PictureFile(200)), jpeg);
    const std::string before = "Сохранено: 0 · уже были: 0 · без картинки: 0 · ";
    std::vector<std::string> partial;
    const std::string ofWhole = " из " + size;
    for (const std::string& status : seen)
        if (status.rfind(before, 0) == 0 && status.size() > before.size() + ofWhole.size() &&
            status.compare(status.size() - ofWhole.size(), ofWhole.size(), ofWhole) == 0 &&
            status != before + size + ofWhole)
            partial.push_back(status.substr(before.size()));
    EXPECT_GE(partial.size(), 2u) << "bytes grow while the picture comes; seen:\n"
                                  << ::testing::PrintToString(seen);
    EXPECT_EQ(Status(), "Сохранено: 1 · уже были: 0 · без картинки: 0")
        << "the bytes go when the picture is in";
}
