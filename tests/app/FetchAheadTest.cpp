// Fetching ahead changes how long a run takes, never what it leaves: the
// same log, files, error, address line and counts as fetching one number at
// a time, whatever the server does; and a stop or a close leaves nothing
// fetched ahead behind.
#include "app/Unit1.h"
#include "tests/app/DownloadRunFixture.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NginxServer.h"
#include "tests/support/RunWindows.h"
#include "tests/support/UnansweredListener.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QTimer>

#include <functional>
#include <map>
#include <ostream>

namespace {

constexpr int First = 200;
constexpr int Last = 209;
// The number the rows make faulty.
constexpr int Faulty = 204;

std::string Tag(const std::string& url) {
    return "<img class=\"wallpaper\" src=\"" + url + "\" alt=\"\">";
}

std::string Page(const std::string& pictureUrl) {
    return "<html>\r\n<body>\r\n" + Tag(pictureUrl) + "\r\n</body>\r\n</html>\r\n";
}

std::string PageFile(int number) {
    return PagePath(number).substr(1);
}

// The site of one run: pages and pictures on nginx, and whatever peers a
// row adds for its fault (scripts are played once, so each run has its own).
struct Site {
    std::unique_ptr<NginxServer> server;
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    std::unique_ptr<UnansweredListener> silent;

    LoopbackPeer& Peer() {
        peers.push_back(std::make_unique<LoopbackPeer>());
        return *peers.back();
    }
    std::string PeerUrl(const LoopbackPeer& peer, const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(peer.Port()) + path;
    }
};

struct Row {
    const char* name;
    // nginx's extra configuration, given the site (for ports).
    std::function<std::string(Site&)> config;
    // Writes the faulty number's page and picture (or leaves them out).
    std::function<void(Site&, const std::string& pictures)> fault;
};

void WriteRegular(Site& site, int number) {
    site.server->WriteFile("images/" + std::to_string(number) + ".jpg",
                           MakeJpeg(24 + number % 7, 16));
    site.server->WriteFile(PageFile(number),
                           Page(site.server->Url("/images/" + std::to_string(number) + ".jpg")));
}

// Every number's page, after `head`, and the same picture for each.
void WriteNumbers(const NginxServer& server, const std::string& picture,
                  const std::string& head = "") {
    for (int number = First; number <= Last; ++number) {
        server.WriteFile("images/" + std::to_string(number) + ".jpg", picture);
        server.WriteFile(PageFile(number),
                         head + Page(server.Url("/images/" + std::to_string(number) + ".jpg")));
    }
}

// Types the range into the number boxes and clicks the download button.
void Download() {
    Form1->SpinEdit1->SetText(QString::number(First));
    Form1->SpinEdit2->SetText(QString::number(Last));
    QTest::mouseClick(Form1->Button2, Qt::LeftButton);
}

// What a run leaves behind.
struct Outcome {
    std::string log;
    std::map<std::string, std::string> files;
    std::vector<std::string> errors;
    int32_t current { 0 };
    std::string address;
    std::vector<int64_t> counts;

    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* out) {
    *out << "log " << testing::PrintToString(o.log) << ", files";
    for (const auto& [name, bytes] : o.files)
        *out << " " << name << "(" << bytes.size() << ")";
    *out << ", errors " << testing::PrintToString(o.errors) << ", current " << o.current
         << ", address " << o.address << ", counts " << testing::PrintToString(o.counts);
}

std::string ReadAll(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<missing>";
}

// Each run has servers of its own: their ports do not count.
std::string WithoutPorts(const std::string& text) {
    static const QRegularExpression port(QStringLiteral("127\\.0\\.0\\.1:[0-9]+"));
    return QString::fromStdString(text)
        .replace(port, QStringLiteral("127.0.0.1:PORT"))
        .toStdString();
}

class Windows : public RunWindows {
public:
    using RunWindows::m_dir;
};

Outcome RunOnce(const Row& row, int parallel) {
    Site site;
    NginxServer::Options options;
    QTemporaryDir pictures;
    Windows windows;
    windows.Open(pictures.path().toStdString());
    // The server is made after the fault's peers, which its configuration
    // may name.
    const std::string config = row.config ? row.config(site) : std::string();
    options.serverConfig = config;
    site.server = std::make_unique<NginxServer>(options);
    for (int number = First; number <= Last; ++number)
        if (number != Faulty)
            WriteRegular(site, number);
    row.fault(site, pictures.path().toStdString() + "/");
    for (const auto& peer : site.peers)
        peer->Start();

    Form1->SiteAddress = site.server->BaseUrl();
    Form1->Parallel = parallel;
    Form1->RetryWaits = { 1, 2, 4 };
    Form1->KvHTTP1.TimeOut = 400;
    Form1->ImageFetcher1.LowSpeedTime = 400;
    Form1->show();
    Download();

    Outcome outcome;
    outcome.log = ReadAll(windows.m_dir.filePath("log.log"));
    const QDir folder(pictures.path());
    for (const QString& name :
         folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        outcome.files[name.toStdString()] = ReadAll(folder.filePath(name));
    for (const std::string& error : windows.Errors())
        outcome.errors.push_back(WithoutPorts(error));
    outcome.current = CurrentNumber;
    outcome.address = WithoutPorts(Form1->Edit1->text().toStdString());
    const TRunProgress& progress = Form1->Progress();
    outcome.counts = { progress.Done(), progress.Saved(), progress.Present(),
                       progress.WithoutPicture() };
    EXPECT_EQ(Form1->Memo1->Text(), outcome.log);
    windows.Close();
    for (const auto& peer : site.peers)
        peer->Stop();
    return outcome;
}

} // namespace

TEST(FetchAhead, LeavesExactlyWhatTheRunOneNumberAtATimeLeaves) {
    const std::string faultyPage = "/" + PageFile(Faulty);
    const Row rows[] = {
        { "all well", nullptr, [](Site& site, const std::string&) { WriteRegular(site, Faulty); } },
        { "page 404", nullptr, [](Site&, const std::string&) {} },
        { "page without a picture", nullptr,
          [](Site& site, const std::string&) {
              site.server->WriteFile(PageFile(Faulty), "<html>removed</html>\r\n");
          } },
        { "picture 404", nullptr,
          [](Site& site, const std::string&) {
              site.server->WriteFile(PageFile(Faulty), Page(site.server->Url("/images/gone.jpg")));
          } },
        { "picture that is not JPEG", nullptr,
          [](Site& site, const std::string&) {
              site.server->WriteFile("images/204.jpg", "<html>not a picture</html>");
              site.server->WriteFile(PageFile(Faulty), Page(site.server->Url("/images/204.jpg")));
          } },
        { "picture cut short",
          [](Site& site) {
              const std::string jpeg = MakeJpeg(64, 48, JpegKind::Progressive);
              site.Peer()
                  .Accept()
                  .ReadUntil("\r\n\r\n")
                  .Send("HTTP/1.0 200 OK\r\n\r\n" + jpeg.substr(0, jpeg.size() / 2))
                  .Close();
              return std::string();
          },
          [](Site& site, const std::string&) {
              site.server->WriteFile(PageFile(Faulty),
                                     Page(site.PeerUrl(*site.peers.back(), "/204.jpg")));
          } },
        { "picture connection reset",
          [](Site& site) {
              LoopbackPeer& peer = site.Peer();
              // One more than the run's tries: ahead, a picture is tried once.
              for (int attempt = 0; attempt <= MaxAttempts; ++attempt)
                  peer.Accept().ReadUntil("\r\n\r\n").Reset();
              return std::string();
          },
          [](Site& site, const std::string&) {
              site.server->WriteFile(PageFile(Faulty),
                                     Page(site.PeerUrl(*site.peers.back(), "/204.jpg")));
          } },
        { "page server that stops answering",
          [&](Site& site) {
              site.silent = std::make_unique<UnansweredListener>();
              return "location = " + faultyPage + " { proxy_pass " + site.silent->Url("/") + "; }";
          },
          [](Site&, const std::string&) {} },
        { "redirect",
          [&](Site&) {
              return "location = " + faultyPage + " { return 302 /" + PageFile(Faulty + 1) + "; }";
          },
          [](Site&, const std::string&) {} },
        { "picture file already there", nullptr,
          [](Site& site, const std::string& pictures) {
              WriteRegular(site, Faulty);
              std::ofstream(pictures + "204.jpg", std::ios::binary) << MakeJpeg(40, 30);
          } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome one = RunOnce(row, 1);
        const Outcome six = RunOnce(row, 6);
        EXPECT_EQ(six, one);
        EXPECT_NE(one.log, "") << "the run got somewhere";
    }
}

// A stop or a close while pictures are on their way ends every transfer at
// once; what the run had not reached leaves nothing on disk.
TEST(FetchAhead, StopOrCloseEndsEveryTransferAndLeavesNothingFetchedAhead) {
    const std::string big = MakeJpeg(640, 480, JpegKind::Progressive);
    for (const bool close : { false, true }) {
        SCOPED_TRACE(close ? "close" : "stop");
        NginxServer::Options options;
        // Slow pictures: several are on their way when the first is logged.
        options.serverConfig = "location /images/ { limit_rate 64k; }";
        NginxServer server(options);
        WriteNumbers(server, big);
        QTemporaryDir pictures;
        Windows windows;
        windows.Open(pictures.path().toStdString());
        Form1->SiteAddress = server.BaseUrl();
        Form1->Parallel = 6;
        Form1->show();
        QTimer action;
        action.setInterval(2);
        QObject::connect(&action, &QTimer::timeout, [&] {
            if (Form1->Memo1->Text().empty())
                return;
            action.stop();
            if (close)
                Form1->close();
            else
                QTest::mouseClick(Form1->Button3, Qt::LeftButton);
        });
        action.start();
        const auto started = std::chrono::steady_clock::now();
        Download();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
            << "the transfers in flight ended at once";
        EXPECT_EQ(Form1->Memo1->Text(), "200\r\n");
        EXPECT_EQ(
            QDir(pictures.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList { "200.jpg" });
        windows.Close();
    }
}

// With the stop button pressed before the run, it asks for one page, as it
// does one number at a time, and nothing else.
TEST(FetchAhead, StopPressedBeforeTheRunAsksForOnePageOnly) {
    NginxServer server;
    // The picture tag is not on the first line, the only one the run reads.
    WriteNumbers(server, MakeJpeg(32, 24), "<html>\r\n");
    QTemporaryDir pictures;
    Windows windows;
    windows.Open(pictures.path().toStdString());
    Form1->SiteAddress = server.BaseUrl();
    Form1->Parallel = 6;
    Form1->show();
    QTest::mouseClick(Form1->Button3, Qt::LeftButton);
    Download();
    windows.Close();
    EXPECT_EQ(server.WaitForAccessLogLines(1),
              "\"GET " + PagePath(First) + " HTTP/1.0\" 200 " +
                  std::to_string(("<html>\r\n" + Page(server.Url("/images/200.jpg"))).size()) +
                  " \"-\"\n");
}
