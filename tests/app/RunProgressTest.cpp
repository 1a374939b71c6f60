// The run's progress bar and status line: where they sit, what they count.
#include "tests/app/DownloadRunFixture.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/NginxServer.h"
#include "toolkit/widgets/TPanel.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include <climits>

namespace {

// The status line with its unbreakable blanks as plain ones.
std::string Plain(QString text) {
    return text.replace(QChar::Nbsp, QLatin1Char(' ')).toStdString();
}

class RunProgress : public DownloadRunTest {
protected:
    void SetUp() override {
        DownloadRunTest::SetUp();
        Form1->SiteAddress = m_server.BaseUrl();
    }

    // A page whose picture tag stands on its own line `copies` times.
    void AddWallpaper(int number, int copies = 1) {
        const std::string picture = "images/" + std::to_string(number) + ".jpg";
        std::string page = "<html>\r\n";
        for (int i = 0; i < copies; ++i)
            page += "<img class=\"wallpaper\" src=\"" + m_server.Url("/" + picture) + "\">\r\n";
        m_server.WriteFile(PagePath(number).substr(1), page);
        m_server.WriteFile(picture, MakeJpeg(20 + number % 10, 20));
    }

    std::string Status() const { return Plain(Form1->Label3->text()); }
    std::string Bar() const { return Form1->ProgressBar1->text().toStdString(); }

    NginxServer m_server;
};

} // namespace

TEST_F(RunProgress, SitsInTheFreePartOfThePanelAndLeavesEveryControlInPlace) {
    const QRect bar = Form1->ProgressBar1->geometry();
    const QRect status = Form1->Label3->geometry();
    for (const QRect& added : { bar, status }) {
        EXPECT_EQ(Form1->ProgressBar1->parentWidget(), Form1->Panel1);
        EXPECT_TRUE(Form1->Panel1->contentsRect().contains(added)) << "inside the bevel";
        EXPECT_GT(added.left(), Form1->Memo1->geometry().right()) << "right of the log pane";
        EXPECT_GT(added.left(), Form1->Edit1->geometry().right());
        EXPECT_GT(added.top(), Form1->SpinEdit2->geometry().bottom()) << "below the boxes";
        EXPECT_GT(added.top(), Form1->Label2->geometry().bottom());
        EXPECT_LE(added.right(), Form1->SpinEdit2->geometry().right());
    }
    EXPECT_FALSE(bar.intersects(status));

    // Where the panel's caption shows when the window is wide enough for it
    // to fall between the log pane and "От:".
    Form1->resize(1000, 624);
    const QFontMetrics metrics(Form1->Panel1->font());
    QRect caption = metrics.boundingRect(Form1->Panel1->Caption());
    caption.moveCenter(Form1->Panel1->rect().center());
    ASSERT_GT(caption.left(), Form1->Memo1->geometry().right());
    EXPECT_FALSE(caption.intersects(Form1->ProgressBar1->geometry()));
    EXPECT_FALSE(caption.intersects(Form1->Label3->geometry()));
    EXPECT_EQ(Form1->ProgressBar1->geometry(), bar) << "they keep their places";

    // The longest line a long run shows still fits, wrapped between items.
    const QString longest = TRunProgress::StatusText(
        99999, 99999, 99999, TRunProgress::BytesText(9 * 1024 * 1024, 10 * 1024 * 1024));
    const QRect needed =
        QFontMetrics(Form1->Label3->font())
            .boundingRect(QRect(0, 0, status.width(), 1000),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, longest);
    EXPECT_LE(needed.width(), status.width()) << longest.toStdString();
    EXPECT_LE(needed.height(), status.height()) << longest.toStdString();
}

TEST_F(RunProgress, CountsSavedPresentAndPicturelessNumbersAndStaysAfterTheRun) {
    EXPECT_EQ(Status(), "") << "nothing before the first run";
    EXPECT_FALSE(Form1->ProgressBar1->isTextVisible());

    AddWallpaper(200);
    AddWallpaper(201, 2); // two marker lines, one picture
    AddWallpaper(202);
    std::ofstream(PictureFile(202), std::ios::binary) << MakeJpeg(10, 10);
    m_server.WriteFile(PagePath(203).substr(1), "<html>no picture</html>\r\n");
    // 204: no page at all (nginx's 404 page).
    AddWallpaper(205);

    ClickDownload(200, 205);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_EQ(LogText(), "200\r\n201\r\n201\r\n202\r\n205\r\n");
    EXPECT_EQ(Bar(), "6 из 6");
    EXPECT_EQ(Form1->ProgressBar1->value(), Form1->ProgressBar1->maximum());
    EXPECT_EQ(Status(), "Сохранено: 3 · уже были: 1 · без картинки: 2");
    const TRunProgress& progress = Form1->Progress();
    EXPECT_EQ(progress.Total(), 6);
    EXPECT_EQ(progress.Done(), 6);
    EXPECT_EQ(progress.Saved(), 3);
    EXPECT_EQ(progress.Present(), 1);
    EXPECT_EQ(progress.WithoutPicture(), 2);

    // A range the run does not take changes nothing.
    ClickDownload(300, 299);
    EXPECT_EQ(Bar(), "6 из 6");

    // A new run starts from zero; one that ends at an error keeps what it
    // had counted. 206's picture is not a JPEG.
    m_server.WriteFile(PagePath(206).substr(1),
                       "<img class=\"wallpaper\" src=\"" + m_server.Url("/bad.jpg") + "\">\r\n");
    m_server.WriteFile("bad.jpg", "not a picture");
    ClickDownload(205, 207);
    EXPECT_EQ(m_errors, std::vector<std::string> { "JPEG error #53." });
    EXPECT_EQ(Bar(), "1 из 3");
    EXPECT_EQ(Form1->ProgressBar1->value(), 1);
    EXPECT_EQ(Form1->ProgressBar1->maximum(), 3);
    EXPECT_EQ(Status(), "Сохранено: 0 · уже были: 1 · без картинки: 0");
}

TEST(RunProgressFigures, BytesAndLongRanges) {
    EXPECT_EQ(TRunProgress::BytesText(0, 0).toStdString(), "0 КБ из 0 КБ");
    EXPECT_EQ(TRunProgress::BytesText(1023, 524288).toStdString(), "0 КБ из 512 КБ");
    EXPECT_EQ(TRunProgress::StatusText(1, 2, 3, QStringLiteral("a b")).count(QChar::Nbsp), 6)
        << "the blanks inside the items";
    EXPECT_EQ(TRunProgress::BytesText(832512, 1468006).toStdString(), "813 КБ из 1,4 МБ");
    EXPECT_EQ(TRunProgress::BytesText(3 * 1024 * 1024, -1).toStdString(), "3,0 МБ");
    EXPECT_EQ(Plain(TRunProgress::StatusText(1, 2, 3, QString())),
              "Сохранено: 1 · уже были: 2 · без картинки: 3");

    QProgressBar bar;
    QLabel status;
    TRunProgress progress(&bar, &status);
    // From INT32_MIN to INT32_MAX: more numbers than the bar's int range.
    progress.Start(int64_t { UINT32_MAX } + 1);
    for (int i = 0; i < 3; ++i)
        progress.NumberDone();
    EXPECT_EQ(bar.maximum(), 1000000);
    EXPECT_EQ(bar.value(), 0);
    EXPECT_EQ(bar.text().toStdString(), "3 из 4294967296");
    progress.PictureBytes(2048, 4096);
    EXPECT_EQ(Plain(status.text()), "Сохранено: 0 · уже были: 0 · без картинки: 3 · 2 КБ из 4 КБ");
    progress.PictureEnded();
    progress.Waiting(1500);
    EXPECT_EQ(Plain(status.text()),
              "Сохранено: 0 · уже были: 0 · без картинки: 3 · повтор через 2 с");
    progress.WaitEnded();
    EXPECT_EQ(Plain(status.text()), "Сохранено: 0 · уже были: 0 · без картинки: 3");
}
