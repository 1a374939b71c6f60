// The log and the pictures under faults, crashes and hostile files: every
// number logged is on disk at once, a log we could not read is never
// replaced, and nothing half fetched or temporary is left behind.
#include "app/LogFile.h"
#include "app/ProcessSetUp.h"
#include "tests/app/DownloadRunFixture.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/JpegEncoder.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NginxServer.h"
#include "tests/support/WithoutFileOverride.h"
#include "toolkit/runtime/TFileStream.h"

#include <QProcess>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

extern "C" {
#include <jerror.h>
}

namespace {

using namespace std::chrono_literals;

std::string ImageTag(const std::string& url) {
    return "<img class=\"wallpaper\" src=\"" + url + "\" alt=\"Wallpaper\">";
}

std::string Page(const std::string& pictureUrl) {
    return "<html>\r\n<body>\r\n" + ImageTag(pictureUrl) + "\r\n</body>\r\n</html>\r\n";
}

// Wallpaper pages on nginx; each picture on nginx too unless the test gives
// another address for it.
class LogSite {
public:
    void Add(int number, const std::string& picture) {
        m_server.WriteFile("images/" + std::to_string(number) + ".jpg", picture);
        AddPage(number, m_server.Url("/images/" + std::to_string(number) + ".jpg"));
    }
    void AddPage(int number, const std::string& pictureUrl) {
        AddRawPage(number, Page(pictureUrl));
    }
    void AddRawPage(int number, const std::string& page) {
        m_server.WriteFile(PagePath(number).substr(1), page);
    }
    std::string BaseUrl() const { return m_server.BaseUrl(); }
    std::string PictureUrl(int number) const {
        return m_server.Url("/images/" + std::to_string(number) + ".jpg");
    }

private:
    NginxServer m_server;
};

// The files flushed to disk so far, in order; what the observer records.
std::mutex g_flushedMutex;
std::vector<std::string> g_flushed;

std::vector<std::string> Flushed() {
    const std::lock_guard<std::mutex> lock(g_flushedMutex);
    return g_flushed;
}

class DownloadRunLog : public DownloadRunTest {
protected:
    void SetUp() override {
        g_flushed.clear();
        TFileStream::SetFlushObserver([](const std::string& name) {
            const std::lock_guard<std::mutex> lock(g_flushedMutex);
            g_flushed.push_back(name);
        });
        DownloadRunTest::SetUp();
        Form1->SiteAddress = m_site.BaseUrl();
        for (int number = 200; number <= 203; ++number)
            m_site.Add(number, MakeJpeg(64, 48));
    }

    // Ends the program and starts it again over a log of the given bytes.
    void Restart(const std::string& log, size_t capacity = TMemo::DefaultCapacity,
                 mode_t mode = 0644) {
        m_application.reset();
        const std::string name = m_dir.filePath("log.log").toStdString();
        std::ofstream(name, std::ios::binary | std::ios::trunc) << log;
        chmod(name.c_str(), mode);
        Reopen(capacity);
    }

    // Ends the program and starts it again over whatever "log.log" is now.
    void Reopen(size_t capacity = TMemo::DefaultCapacity) {
        m_application.reset();
        m_errors.clear();
        m_application = std::make_unique<TApplication>();
        m_application->SetTitle("Wallpapers");
        m_application->SetErrorPresenter(
            [this](const std::string&, const std::string& text) { m_errors.push_back(text); });
        StopFlag = 0;
        Form1 = m_application->CreateForm<TForm1>();
        Form2 = m_application->CreateForm<TForm2>();
        Form1->PictureDirectory = m_pictures.path().toStdString() + "/";
        Form1->SiteAddress = m_site.BaseUrl();
        Form1->Memo1->SetCapacity(capacity);
        Form1->show();
    }

    void TearDown() override {
        DownloadRunTest::TearDown();
        TFileStream::SetFlushObserver(nullptr);
    }

    std::string LogFile() const { return ReadFile(LogName()); }
    std::string LogName() const { return m_dir.filePath("log.log").toStdString(); }

    LogSite m_site;
};

} // namespace

TEST_F(DownloadRunLog, LogThatCouldNotBeLoadedGetsTheNewLinesAndKeepsItsBytes) {
    struct Row {
        const char* name;
        std::string old;
        size_t capacity;
        mode_t mode;
        const char* error;
        std::string after;
    };
    const std::string big(100, '7');
    const Row rows[] = {
        { "over the capacity", big + "\r\n", 64, 0644, "Text exceeds memo capacity.",
          big + "\r\n200\r\n201\r\n" },
        { "over the capacity, no final line end", big, 64, 0644, "Text exceeds memo capacity.",
          big + "\r\n200\r\n201\r\n" },
        { "not readable", "199", TMemo::DefaultCapacity, 0200, "Permission denied.",
          "199\r\n200\r\n201\r\n" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_errors.clear();
        const std::string name = m_dir.filePath("log.log").toStdString();
        {
            WithoutFileOverride unprivileged;
            Restart(row.old, row.capacity, row.mode);
            ASSERT_EQ(m_errors.size(), 1u);
            EXPECT_NE(m_errors[0].find(row.error), std::string::npos) << m_errors[0];
            EXPECT_EQ(LogText(), "");
            ClickDownload(200, 201);
            EXPECT_EQ(m_errors.size(), 1u);
            EXPECT_EQ(LogText(), "200\r\n201\r\n");
            Form1->close();
            EXPECT_TRUE(m_application->Terminated());
            m_application.reset();
        }
        ASSERT_EQ(chmod(name.c_str(), 0644), 0);
        EXPECT_EQ(LogFile(), row.after);
    }
}

TEST_F(DownloadRunLog, EveryLoggedNumberIsOnDiskBeforeTheRunGoesOn) {
    struct Row {
        const char* name;
        std::string old;
        std::string saved;
    };
    const Row rows[] = {
        { "empty", "", "200\r\n201\r\n202\r\n203\r\n" },
        { "CR LF", "1\r\n", "1\r\n200\r\n201\r\n202\r\n203\r\n" },
        { "no final line end", "1\r\n2", "1\r\n2\r\n200\r\n201\r\n202\r\n203" },
        // The file is not the pane's text here: the first number writes the
        // whole pane.
        { "LF only", "1\n2\n", "1\r\n2\r\n200\r\n201\r\n202\r\n203\r\n" },
        { "NUL",
          std::string("1\r\n2\0"
                      "3\r\n",
                      7),
          "1\r\n2\r\n200\r\n201\r\n202\r\n203" },
    };
    // One number at a time, the file holds the pane whenever the run lets
    // events through; fetching ahead, it may trail the pane. Either way
    // every number in it was flushed to disk after its picture.
    for (const int parallel : { 1, 6 }) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + ", parallel " + std::to_string(parallel));
            Restart(row.old);
            Form1->Parallel = parallel;
            const std::string loaded = LogText();
            std::vector<std::pair<std::string, std::string>> samples;
            QTimer sampler;
            sampler.setInterval(0);
            QObject::connect(&sampler, &QTimer::timeout, [&] {
                const std::vector<std::string> flushed = Flushed();
                const std::string file = LogFile();
                if (samples.empty() || samples.back() != std::make_pair(LogText(), file))
                    samples.emplace_back(LogText(), file);
                // Not before the file is the pane's text (a log with a NUL
                // or lone line ends is written whole at first).
                if (file.size() <= loaded.size() || file.compare(0, loaded.size(), loaded) != 0 ||
                    file.find('\0') != std::string::npos)
                    return;
                std::istringstream numbers(file.substr(loaded.size()));
                int logged = 0;
                for (std::string number; numbers >> number; ++logged)
                    EXPECT_NE(
                        std::find(flushed.begin(), flushed.end(), PictureFile(std::stoi(number))),
                        flushed.end())
                        << number;
                EXPECT_GE(std::count(flushed.begin(), flushed.end(), "log.log"), logged);
            });
            sampler.start();
            ClickDownload(200, 203);
            sampler.stop();
            EXPECT_EQ(m_errors, std::vector<std::string> {});
            EXPECT_EQ(LogText(), row.saved);
            ASSERT_GE(samples.size(), parallel == 1 ? 4u : 2u);
            for (size_t i = 1; i < samples.size(); ++i) {
                const auto& [pane, file] = samples[i];
                if (parallel == 1)
                    EXPECT_EQ(file, pane) << "sample " << i;
                else
                    EXPECT_EQ(pane.compare(0, file.size(), file), 0) << "sample " << i;
            }
            EXPECT_EQ(LogFile(), row.saved) << "before any save";
            Form1->close();
            EXPECT_EQ(LogFile(), row.saved);
            m_application.reset();
            EXPECT_EQ(LogFile(), row.saved);
        }
    }
}

TEST_F(DownloadRunLog, JustFetchedPictureThatDoesNotDecodeIsRemovedAndNotLogged) {
    const std::string good = MakeJpeg(320, 240, JpegKind::Progressive);
    {
        SCOPED_TRACE("cut short by a server that closes without a length");
        LoopbackPeer early;
        early.Accept()
            .ReadUntil("\r\n\r\n")
            .Send("HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n\r\n" +
                  good.substr(0, good.size() / 2))
            .Close();
        early.Start();
        m_site.AddPage(204, "http://127.0.0.1:" + std::to_string(early.Port()) + "/204.jpg");
        ClickDownload(203, 205);
        ASSERT_TRUE(early.WaitDone());
        EXPECT_EQ(m_errors, std::vector<std::string> { "JPEG error #" +
                                                       std::to_string(JWRN_JPEG_EOF) + "." });
        EXPECT_EQ(LogText(), "203\r\n");
        EXPECT_EQ(LogFile(), "203\r\n");
        EXPECT_EQ(CurrentNumber, 204);
        EXPECT_EQ(ReadFile(PictureFile(204)), "<missing>");
    }
    {
        SCOPED_TRACE("more than a thousand scans");
        m_errors.clear();
        m_site.Add(205, [] {
            std::vector<jpeg_scan_info> script { { 3, { 0, 1, 2, 0 }, 0, 0, 0, 0 } };
            for (int component = 0; component < 3; ++component)
                for (int k = 1; k <= 63; ++k) {
                    script.push_back({ 1, { component, 0, 0, 0 }, k, k, 0, 5 });
                    for (int bit = 5; bit > 0; --bit)
                        script.push_back({ 1, { component, 0, 0, 0 }, k, k, bit, bit - 1 });
                }
            JpegEncoder encoder;
            encoder.width = 16;
            encoder.height = 16;
            encoder.scans = script;
            encoder.row = [](int y, JSAMPLE* rgb) {
                std::fill(rgb, rgb + 48, static_cast<JSAMPLE>(y * 9));
            };
            return encoder.Encode();
        }());
        ClickDownload(205, 205);
        EXPECT_EQ(m_errors,
                  std::vector<std::string> { "JPEG picture has too many scans: more than 1000." });
        EXPECT_EQ(LogFile(), "203\r\n");
        EXPECT_EQ(ReadFile(PictureFile(205)), "<missing>");
    }
    {
        SCOPED_TRACE("a file that was there before the run is the user's");
        m_errors.clear();
        const std::string cut = good.substr(0, good.size() / 2);
        std::ofstream(PictureFile(206), std::ios::binary) << cut;
        m_site.AddPage(206, "http://127.0.0.1:1/never-fetched.jpg");
        ClickDownload(206, 206);
        EXPECT_EQ(m_errors, std::vector<std::string> {});
        EXPECT_EQ(LogFile(), "203\r\n206\r\n");
        EXPECT_EQ(ReadFile(PictureFile(206)), cut);
    }
}

// A "log.log" that is no regular file is never opened in a way that blocks,
// never replaced or written through, and never traps the user: one error at
// start, runs that work and show their numbers, and a close that says once
// that the log was not saved and then goes through.
TEST_F(DownloadRunLog, LogThatIsNoRegularFileKeepsTheProgramUsableAndStaysAsItWas) {
    const std::string away = m_pictures.path().toStdString() + "/away.log";
    struct Row {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* startError;
        const char* closeError;
    };
    const Row rows[] = {
        { "folder", [](const std::string& n) { mkdir(n.c_str(), 0755); }, "Is a directory.",
          "Is a directory." },
        { "FIFO", [](const std::string& n) { mkfifo(n.c_str(), 0666); }, "Not a regular file.",
          "Not a regular file." },
        { "device", [](const std::string& n) { mknod(n.c_str(), S_IFCHR | 0666, makedev(1, 5)); },
          "Not a regular file.", "Not a regular file." },
        { "link to a missing file in another folder",
          [&](const std::string& n) { symlink(away.c_str(), n.c_str()); },
          "No such file or directory.", "Symbolic link to a missing file." },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (std::string(row.name) == "device" && geteuid() != 0)
            continue;
        m_application.reset();
        std::filesystem::remove_all(LogName());
        row.make(LogName());
        struct stat before {};
        ASSERT_EQ(lstat(LogName().c_str(), &before), 0);
        Reopen();
        const std::string prefix = "Cannot open file \"" + LogName() + "\". ";
        EXPECT_EQ(m_errors, std::vector<std::string> { prefix + row.startError });
        ClickDownload(200, 201);
        EXPECT_EQ(LogText(), "200\r\n201\r\n");
        EXPECT_EQ(m_errors.size(), 1u) << "the run logs without errors";
        Form1->close();
        EXPECT_TRUE(m_application->Terminated()) << "the close goes through";
        ASSERT_EQ(m_errors.size(), 2u);
        EXPECT_EQ(m_errors[1], "Cannot create file \"" + LogName() + "\". " + row.closeError);
        m_application.reset();
        EXPECT_EQ(m_errors.size(), 2u) << "said once";
        struct stat after {};
        ASSERT_EQ(lstat(LogName().c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_FALSE(std::filesystem::exists(away));
    }
    std::filesystem::remove_all(LogName());
}

// A picture's name that leads to no regular file ends the run before any
// request, with an error naming it; nothing is made outside the folder.
TEST_F(DownloadRunLog, PictureNameThatLeadsToNoRegularFileIsRefused) {
    const std::string outside = m_dir.filePath("outside.jpg").toStdString();
    const std::pair<std::string, const char*> rows[] = {
        { "", "Not a regular file." }, // a FIFO
        { outside, "Symbolic link to a missing file." },
    };
    for (const auto& [linkTo, reason] : rows) {
        SCOPED_TRACE(reason);
        m_errors.clear();
        std::filesystem::remove(PictureFile(200));
        ASSERT_EQ(linkTo.empty() ? mkfifo(PictureFile(200).c_str(), 0666)
                                 : symlink(linkTo.c_str(), PictureFile(200).c_str()),
                  0);
        ClickDownload(200, 201);
        EXPECT_EQ(m_errors, std::vector<std::string> { "Cannot create file \"" + PictureFile(200) +
                                                       "\". " + reason });
        EXPECT_EQ(CurrentNumber, 200);
        EXPECT_FALSE(std::filesystem::exists(outside));
    }
    EXPECT_EQ(LogFile(), "");
}

// Two copies of the program in one folder: whatever order they log and close
// in, neither removes a line the other wrote.
TEST_F(DownloadRunLog, SecondCopyInTheSameFolderNeverRemovesTheFirstOnesLines) {
    Restart("100\r\n101\r\n");
    // The other copy: started earlier over the same log, idle so far.
    TMemo otherPane;
    ::LogFile other("log.log");
    other.Load(otherPane);
    ClickDownload(200, 201);
    other.Save(otherPane);
    EXPECT_EQ(LogFile(), "100\r\n101\r\n200\r\n201\r\n") << "an idle copy's close";
    other.Append(otherPane, otherPane.AddLine("300"));
    ClickDownload(202, 203);
    Form1->close();
    m_application.reset();
    other.Save(otherPane);
    EXPECT_EQ(LogFile(), "100\r\n101\r\n200\r\n201\r\n300\r\n202\r\n203\r\n");
}

// A full disk that takes part of a line: the file goes back to its last
// whole line, so no cut number is ever read back from it, and the numbers
// reach it whole with the next write that fits.
TEST_F(DownloadRunLog, AppendCutShortByAFullDiskLeavesOnlyWholeLines) {
    using TAppend = void (*)(::LogFile&, const TMemo&, const std::string&);
    struct Row {
        const char* name;
        TAppend append;
    };
    const Row rows[] = {
        { "with the pane", [](::LogFile& log, const TMemo& pane,
                              const std::string& piece) { log.Append(pane, piece); } },
        { "by the log writer",
          [](::LogFile& log, const TMemo&, const std::string& piece) { log.AppendPiece(piece); } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Restart("100\r\n");
        TMemo pane;
        ::LogFile log("log.log");
        log.Load(pane);
        {
            // Room for "100\r\n" and two bytes more.
            const FileSizeLimit limit(7);
            EXPECT_THROW(row.append(log, pane, pane.AddLine("200")), EWriteError);
        }
        EXPECT_EQ(LogFile(), "100\r\n");
        log.Save(pane);
        EXPECT_EQ(LogFile(), "100\r\n200\r\n");
    }
}

// A page that repeats its picture tag: the first 100 marker lines each log
// the number, the rest are read like any line; and no run pushes the pane
// past its capacity, so the log stays loadable.
TEST_F(DownloadRunLog, MarkerLinesPerPageAreBoundedAndTheLogNeverOutgrowsThePane) {
    std::string page;
    for (int i = 0; i < 250; ++i)
        page += ImageTag(m_site.PictureUrl(200)) + "\r\n";
    m_site.AddRawPage(200, page);
    ClickDownload(200, 200);
    std::string hundred;
    for (int i = 0; i < 100; ++i)
        hundred += "200\r\n";
    EXPECT_EQ(LogText(), hundred);
    EXPECT_EQ(LogFile(), hundred);

    Restart("", 64);
    ClickDownload(200, 201);
    EXPECT_EQ(m_errors, std::vector<std::string> { "Text exceeds memo capacity." });
    EXPECT_LE(LogFile().size(), 64u);
    Reopen(64);
    EXPECT_EQ(m_errors, std::vector<std::string> {}) << "the next start loads it";
    EXPECT_EQ(LogText(), LogFile());
}

// ---------------------------------------------------------------------------
// The program in a child process: this test program started again with one
// of the child bodies below, its parameters in the environment.

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The real window in this process, as the program sets it up, running
// From..To against the site; every error box's text goes to stdout.
void RunWindowInChild() {
    SetUpProcess(Env("CHILD_PICTURES"));
    const std::string limit = Env("CHILD_FILE_SIZE_LIMIT");
    if (!limit.empty()) {
        const rlimit size { std::stoul(limit), RLIM_INFINITY };
        setrlimit(RLIMIT_FSIZE, &size);
    }
    QDir::setCurrent(QString::fromStdString(Env("CHILD_DIR")));
    TApplication application;
    application.SetErrorPresenter([](const std::string&, const std::string& text) {
        std::cout << "error: " << text << std::endl;
    });
    Form1 = application.CreateForm<TForm1>();
    Form2 = application.CreateForm<TForm2>();
    Form1->PictureDirectory = Env("CHILD_PICTURES");
    Form1->SiteAddress = Env("CHILD_SITE");
    if (!Env("CHILD_PARALLEL").empty())
        Form1->Parallel = std::stoi(Env("CHILD_PARALLEL"));
    Form1->show();
    Form1->SpinEdit1->SetText(QString::fromStdString(Env("CHILD_FROM")));
    Form1->SpinEdit2->SetText(QString::fromStdString(Env("CHILD_TO")));
    QTest::mouseClick(Form1->Button2, Qt::LeftButton);
    std::cout << "run ended" << std::endl;
}

class ChildProgram {
public:
    explicit ChildProgram(const std::map<std::string, std::string>& settings) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : settings)
            environment.insert(QString::fromStdString(name), QString::fromStdString(value));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QCoreApplication::applicationFilePath(),
                        { "--gtest_filter=DownloadRunChild.DISABLED_Window",
                          "--gtest_also_run_disabled_tests" });
        EXPECT_TRUE(m_process.waitForStarted());
    }
    ~ChildProgram() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    qint64 Pid() const { return m_process.processId(); }
    void Kill() {
        ::kill(static_cast<pid_t>(Pid()), SIGKILL);
        m_process.waitForFinished();
    }
    bool Finish() { return m_process.waitForFinished(120000); }
    QProcess& Process() { return m_process; }
    std::string Output() { return m_process.readAll().toStdString(); }

private:
    QProcess m_process;
};

// Whether the process holds an open file in the folder that has no name
// there (an unnamed or deleted file).
bool HoldsUnnamedFileIn(qint64 pid, const std::string& folder) {
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.rfind(folder, 0) == 0 && target.find("(deleted)") != std::string::npos)
            return true;
    }
    return false;
}

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds deadline = 60s) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

QStringList Entries(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(DownloadRunChild, DISABLED_Window) {
    if (Env("CHILD_DIR").empty())
        GTEST_SKIP() << "only as a child of the tests below";
    RunWindowInChild();
}

TEST(DownloadRunKilled, LogListsEveryNumberAndNoTemporaryFileRemains) {
    QTemporaryDir dir;
    QTemporaryDir pictures;
    QTemporaryDir temp;
    LogSite site;
    for (int number = 200; number <= 202; ++number)
        site.Add(number, MakeJpeg(64, 48));
    // The fourth picture comes in part and then never more.
    const std::string picture = MakeJpeg(640, 480);
    LoopbackPeer stall;
    stall.Accept()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(picture.size()) + "\r\n\r\n" +
              picture.substr(0, picture.size() / 2))
        .Stall();
    stall.Start();
    site.AddPage(203, "http://127.0.0.1:" + std::to_string(stall.Port()) + "/203.jpg");

    const std::string picturesPath = pictures.path().toStdString() + "/";
    ChildProgram child({ { "CHILD_DIR", dir.path().toStdString() },
                         { "CHILD_PICTURES", picturesPath },
                         { "CHILD_SITE", site.BaseUrl() },
                         { "CHILD_FROM", "200" },
                         { "CHILD_TO", "205" },
                         { "TMPDIR", temp.path().toStdString() } });
    ASSERT_TRUE(stall.WaitReceived(1));
    // Killed while the picture's temporary file is open and half written.
    ASSERT_TRUE(WaitFor([&] { return HoldsUnnamedFileIn(child.Pid(), picturesPath); }))
        << child.Output();
    child.Kill();
    EXPECT_EQ(child.Process().exitStatus(), QProcess::CrashExit);
    stall.Stop();

    EXPECT_EQ(ReadWholeFile(dir.filePath("log.log").toStdString()), "200\r\n201\r\n202\r\n");
    EXPECT_EQ(Entries(pictures), (QStringList { "200.jpg", "201.jpg", "202.jpg" }));
    EXPECT_EQ(QDir(temp.path()).entryList({ "Buf*" }, QDir::Files | QDir::Hidden), QStringList {});
    EXPECT_EQ(Entries(dir), QStringList { "log.log" });
}

// Killed at random moments while numbers are fetched ahead: every logged
// number has its whole picture, no picture is anything but what the server
// sent, and nothing temporary is left.
TEST(DownloadRunKilled, FetchingAheadLeavesWholePicturesOfEveryLoggedNumber) {
    LogSite site;
    std::map<std::string, std::string> sent;
    for (int number = 200; number <= 259; ++number) {
        sent[std::to_string(number) + ".jpg"] = MakeJpeg(200 + number % 9, 150);
        site.Add(number, sent[std::to_string(number) + ".jpg"]);
    }
    std::mt19937 random(std::random_device {}());
    for (int round = 0; round < 3; ++round) {
        QTemporaryDir dir;
        QTemporaryDir pictures;
        const std::string picturesPath = pictures.path().toStdString() + "/";
        // Killed once a random count of numbers is logged, a moment later.
        const size_t logged = 1 + random() % 40;
        const auto delay = std::chrono::milliseconds(random() % 20);
        SCOPED_TRACE("killed " + std::to_string(delay.count()) + " ms after " +
                     std::to_string(logged) + " numbers");
        {
            ChildProgram child({ { "CHILD_DIR", dir.path().toStdString() },
                                 { "CHILD_PICTURES", picturesPath },
                                 { "CHILD_SITE", site.BaseUrl() },
                                 { "CHILD_FROM", "200" },
                                 { "CHILD_TO", "259" },
                                 { "CHILD_PARALLEL", "6" } });
            const std::string logName = dir.filePath("log.log").toStdString();
            ASSERT_TRUE(WaitFor([&] {
                return static_cast<size_t>(std::count(
                           std::istreambuf_iterator<char>(std::ifstream(logName).rdbuf()), {},
                           '\n')) >= logged;
            })) << child.Output();
            std::this_thread::sleep_for(delay);
            child.Kill();
        }
        std::istringstream log(ReadWholeFile(dir.filePath("log.log").toStdString()));
        for (std::string line; std::getline(log, line);) {
            ASSERT_TRUE(!line.empty() && line.back() == '\r') << "whole lines only";
            line.pop_back();
            EXPECT_EQ(ReadWholeFile(picturesPath + line + ".jpg"), sent[line + ".jpg"]) << line;
        }
        for (const QString& name : Entries(pictures))
            EXPECT_EQ(ReadWholeFile(picturesPath + name.toStdString()), sent[name.toStdString()])
                << name.toStdString();
    }
}

TEST(DownloadRunKilled, FileSizeLimitGivesTheDiskFullBoxInsteadOfASignal) {
    QTemporaryDir dir;
    QTemporaryDir pictures;
    LogSite site;
    site.Add(200, MakeJpeg(64, 48));
    site.Add(201, MakeJpeg(1600, 1200));
    const std::string big = MakeJpeg(1600, 1200);
    ASSERT_GT(big.size(), 65536u);
    ChildProgram child({ { "CHILD_DIR", dir.path().toStdString() },
                         { "CHILD_PICTURES", pictures.path().toStdString() + "/" },
                         { "CHILD_SITE", site.BaseUrl() },
                         { "CHILD_FROM", "200" },
                         { "CHILD_TO", "201" },
                         { "CHILD_FILE_SIZE_LIMIT", "65536" } });
    ASSERT_TRUE(child.Finish());
    const std::string output = child.Output();
    EXPECT_EQ(child.Process().exitStatus(), QProcess::NormalExit) << output;
    EXPECT_NE(output.find("error: Disk full.\nrun ended\n"), std::string::npos) << output;
    EXPECT_EQ(ReadWholeFile(dir.filePath("log.log").toStdString()), "200\r\n");
    EXPECT_EQ(Entries(pictures), QStringList { "200.jpg" });
}
