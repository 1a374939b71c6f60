#include "app/ImageFetcher.h"
#include "app/InOutError.h"
#include "platform/UrlService.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/NginxServer.h"
#include "tests/support/UnansweredListener.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <arpa/inet.h>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + 7) % 251);
    return bytes;
}

// Names in the directory, to prove no temporary file was left behind.
std::vector<std::string> Entries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no error)";
}

// Answers one connection with a response that promises more body than it
// sends, then hangs up: a transfer that breaks half way.
class BrokenServer {
public:
    BrokenServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            const int peer = ::accept(m_listener, nullptr, nullptr);
            if (peer < 0)
                return;
            char request[4096];
            (void)::recv(peer, request, sizeof request, 0);
            const std::string reply =
                "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'x');
            (void)::send(peer, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(peer);
        });
    }
    ~BrokenServer() {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/1.jpg"; }

private:
    int m_listener { -1 };
    uint16_t m_port { 0 };
    std::thread m_thread;
};

class ImageFetcher : public ::testing::Test {
protected:
    std::string Target(const std::string& name) const {
        return m_dir.path().toStdString() + "/" + name;
    }
    std::string Dir() const { return m_dir.path().toStdString(); }
    // What fetching the URL into 1.jpg came to: "saved " and the file's
    // bytes (the file is then removed), or why it failed.
    std::string Outcome(TImageFetcher& fetcher, const std::string& url) const {
        const std::string prefix = "Cannot download \"" + url + "\": ";
        try {
            fetcher.Fetch(url, Target("1.jpg"));
        } catch (const Exception& e) {
            const bool ours = e.Message().rfind(prefix, 0) == 0;
            return ours ? e.Message().substr(prefix.size()) : e.Message();
        }
        const std::string saved = "saved " + ReadFile(Target("1.jpg"));
        std::filesystem::remove(Target("1.jpg"));
        return saved;
    }

    NginxServer m_server;
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ImageFetcher, CopiesTheBodyExactly) {
    // 4024 bytes fill the buffer once; the next read gives 0 and ends.
    for (size_t size : { size_t(4024), size_t(0), size_t(4025), size_t(3 * 1024 * 1024 + 17) }) {
        SCOPED_TRACE(size);
        const std::string body = Pattern(size);
        m_server.WriteFile("pic.jpg", body);
        const std::string target = Target(std::to_string(size) + ".jpg");
        FetchImageFile(m_server.Url("/pic.jpg"), target);
        EXPECT_EQ(ReadFile(target), body);
        EXPECT_EQ(std::filesystem::status(target).permissions() &
                      std::filesystem::perms::owner_read,
                  std::filesystem::perms::owner_read);
    }
    EXPECT_EQ(Entries(Dir()),
              (std::vector<std::string> { "0.jpg", "3145745.jpg", "4024.jpg", "4025.jpg" }));

    // The agent is the program file's name (here the test program's).
    const std::string log = m_server.WaitForAccessLogLines(4);
    EXPECT_NE(log.find("\"GET /pic.jpg HTTP/1.1\" 200 4024 \"ImageFetcherTest\""),
              std::string::npos)
        << log;
}

TEST_F(ImageFetcher, ReplacesAnExistingFileAndFollowsRedirects) {
    const std::string target = Target("7.jpg");
    std::ofstream(target, std::ios::binary) << Pattern(50000);
    m_server.WriteFile("small.jpg", "tiny");
    FetchImageFile(m_server.Url("/small.jpg"), target);
    EXPECT_EQ(ReadFile(target), "tiny");

    NginxServer::Options options;
    options.serverConfig = "location = /get/7 { return 302 /pics/7.jpg; }\n";
    NginxServer redirecting(options);
    redirecting.WriteFile("pics/7.jpg", Pattern(9000));
    FetchImageFile(redirecting.Url("/get/7"), target);
    EXPECT_EQ(ReadFile(target), Pattern(9000));
    EXPECT_EQ(Entries(Dir()), std::vector<std::string> { "7.jpg" });
}

TEST_F(ImageFetcher, FailedDownloadsRaiseAndLeaveNoFile) {
    const std::string target = Target("404.jpg");
    const std::string missing = m_server.Url("/nothing.jpg");
    EXPECT_EQ(ErrorOf([&] { FetchImageFile(missing, target); }),
              "Cannot download \"" + missing + "\": HTTP status 404");
    try {
        FetchImageFile(missing, target);
    } catch (const EDownloadError& e) {
        EXPECT_EQ(e.Url, missing);
        EXPECT_EQ(e.HttpStatus, 404u);
        EXPECT_EQ(e.ServiceError, 0u);
    }

    const std::string refused =
        "http://127.0.0.1:" + std::to_string(LocalServerProcess::FreePort()) + "/1.jpg";
    const std::string refusedError = ErrorOf([&] { FetchImageFile(refused, target); });
    EXPECT_EQ(refusedError.rfind("Cannot download \"" + refused + "\": ", 0), 0u) << refusedError;
    EXPECT_EQ(refusedError, "Cannot download \"" + refused + "\": Connection refused");
    try {
        FetchImageFile(refused, target);
    } catch (const EDownloadError& e) {
        EXPECT_EQ(e.HttpStatus, 0u);
        EXPECT_EQ(e.ServiceError, ERROR_INTERNET_CANNOT_CONNECT);
    }

    BrokenServer broken;
    const std::string brokenError = ErrorOf([&] { FetchImageFile(broken.Url(), target); });
    EXPECT_EQ(brokenError,
              "Cannot download \"" + broken.Url() + "\": Connection closed before the end");
    EXPECT_TRUE(Entries(Dir()).empty());

    // A failed download leaves an existing file as it was.
    std::ofstream(target, std::ios::binary) << "old picture";
    EXPECT_THROW(FetchImageFile(missing, target), EDownloadError);
    EXPECT_EQ(ReadFile(target), "old picture");
    EXPECT_EQ(Entries(Dir()), std::vector<std::string> { "404.jpg" });
}

// Only a 2xx status saves the picture. A redirect is followed only when it
// names where to go, so a 3xx that arrives as the final answer is refused
// like an error page. A 1xx is interim: the answer after it decides.
TEST_F(ImageFetcher, OnlyASuccessStatusSavesThePicture) {
    struct Row {
        std::string response;
        std::string outcome;
    };
    const std::string body = "\r\nContent-Length: 3\r\n\r\nabc";
    const Row rows[] = {
        { "HTTP/1.1 199 Early\r\n\r\nHTTP/1.1 200 OK" + body, "saved abc" },
        { "HTTP/1.1 199 Early\r\n\r\n", "Server sent no reply" },
        { "HTTP/1.0 200 OK" + body, "saved abc" },
        { "HTTP/1.0 299 Odd" + body, "saved abc" },
        { "HTTP/1.0 300 Multiple Choices" + body, "HTTP status 300" },
        { "HTTP/1.0 304 Not Modified\r\n\r\n", "HTTP status 304" },
        // A close before the head's empty line cuts the response short.
        { "HTTP/1.1 200 OK\r\nContent-Type: image/jp", "Connection closed before the end" },
        { "HTTP/1.1 200 OK\r\nContent-Length: 3\r", "Connection closed before the end" },
    };
    TImageFetcher fetcher;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.response);
        LoopbackPeer peer;
        peer.Accept().ReadUntil("\r\n\r\n").Send(row.response).Close();
        peer.Start();
        EXPECT_EQ(Outcome(fetcher, "http://127.0.0.1:" + std::to_string(peer.Port()) + "/1.jpg"),
                  row.outcome);
        EXPECT_TRUE(Entries(Dir()).empty());
    }
}

// A size announced beyond the bound ends a final answer (2xx, or an error
// status) before any of its body; the body of a redirect is never taken, so
// its size does not count.
TEST_F(ImageFetcher, AnnouncedSizeRefusesOnlyAFinalAnswer) {
    TImageFetcher fetcher;
    fetcher.MaxPictureSize = 1000;
    for (const auto& [status, outcome] :
         std::vector<std::pair<int, std::string>> { { 200, "Picture too large" },
                                                    { 299, "Picture too large" },
                                                    { 300, "saved tiny" },
                                                    { 399, "saved tiny" },
                                                    { 400, "Picture too large" } }) {
        SCOPED_TRACE(status);
        LoopbackPeer peer;
        // Only the head comes: a transfer that waited for the body would
        // end with the connection instead.
        peer.Accept()
            .ReadUntil("\r\n\r\n")
            .Send("HTTP/1.1 " + std::to_string(status) +
                  " X\r\nLocation: /2.jpg\r\nContent-Length: 5000\r\nConnection: close\r\n\r\n")
            .Close()
            .Accept()
            .ReadUntil("\r\n\r\n")
            .Send("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ntiny")
            .Close();
        peer.Start();
        EXPECT_EQ(Outcome(fetcher, "http://127.0.0.1:" + std::to_string(peer.Port()) + "/1.jpg"),
                  outcome);
        EXPECT_TRUE(Entries(Dir()).empty());
    }
}

TEST_F(ImageFetcher, FileErrorsCarryTheRuntimeCodes) {
    m_server.WriteFile("a.jpg", "abc");
    const std::string url = m_server.Url("/a.jpg");
    std::filesystem::create_directory(Target("dir.jpg"));
    auto errorOf = [&](const std::string& target, const std::string& from = "") -> std::string {
        try {
            FetchImageFile(from.empty() ? url : from, target);
        } catch (const EInOutError& e) {
            return std::to_string(e.ErrorCode) + " " + e.Message();
        }
        return "(no I/O error)";
    };
    EXPECT_EQ(errorOf(Target("dir.jpg")), "5 File access denied");
    EXPECT_EQ(errorOf(Target("no/such/dir/1.jpg")), "3 Invalid filename");
    if (::geteuid() != 0) {
        std::filesystem::create_directory(Target("locked"));
        std::filesystem::permissions(Target("locked"), std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::owner_exec);
        EXPECT_EQ(errorOf(Target("locked/1.jpg")), "5 File access denied");
        std::filesystem::remove(Target("locked"));
    }
    EXPECT_EQ(Entries(Dir()), std::vector<std::string> { "dir.jpg" });
    EXPECT_TRUE(std::filesystem::is_empty(Target("dir.jpg")));

    // A write that fails part way, as on a full disk, gives its own code and
    // leaves the old file whole.
    m_server.WriteFile("big.jpg", Pattern(20000));
    std::ofstream(Target("big.jpg"), std::ios::binary) << "old picture";
    std::string fullDisk;
    {
        FileSizeLimit limit(4096);
        fullDisk = errorOf(Target("big.jpg"), m_server.Url("/big.jpg"));
    }
    EXPECT_EQ(fullDisk, "101 Disk full");
    EXPECT_EQ(ReadFile(Target("big.jpg")), "old picture");
    EXPECT_EQ(Entries(Dir()), (std::vector<std::string> { "big.jpg", "dir.jpg" }));
    // A target that cannot be written is found out before the request.
    const std::string log = m_server.WaitForAccessLogLines(1);
    EXPECT_EQ(log.find("/a.jpg"), std::string::npos) << log;
}

TEST_F(ImageFetcher, EachBoundEndsTheFetchWithItsErrorAndLeavesNoFile) {
    TImageFetcher fetcher;
    fetcher.ConnectTimeOut = 200;
    fetcher.LowSpeedLimit = 1024;
    fetcher.LowSpeedTime = 300;
    fetcher.MaxPictureSize = 100000;
    struct Outcome {
        std::string message;
        uint32_t serviceError = 0;
    };
    auto fetch = [&](const std::string& url) {
        try {
            fetcher.Fetch(url, Target("1.jpg"));
        } catch (const EDownloadError& e) {
            return Outcome { e.Message(), e.ServiceError };
        }
        return Outcome { "(no error)" };
    };

    UnansweredListener unanswered;
    const std::string unansweredUrl = unanswered.Url("/1.jpg");
    Outcome outcome = fetch(unansweredUrl);
    EXPECT_EQ(outcome.message, "Cannot download \"" + unansweredUrl + "\": Connection timed out");
    EXPECT_EQ(outcome.serviceError, ERROR_INTERNET_TIMEOUT);

    LoopbackPeer slow;
    slow.Accept()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.0 200 OK\r\n\r\n")
        .SendInPieces(std::string(50000, 's'), 5, 10, std::chrono::milliseconds(30));
    slow.Start();
    const std::string slowUrl = "http://127.0.0.1:" + std::to_string(slow.Port()) + "/1.jpg";
    outcome = fetch(slowUrl);
    EXPECT_EQ(outcome.message, "Cannot download \"" + slowUrl + "\": Timed out");
    EXPECT_EQ(outcome.serviceError, ERROR_INTERNET_TIMEOUT);
    slow.Stop();

    m_server.WriteFile("big.jpg", Pattern(100001));
    outcome = fetch(m_server.Url("/big.jpg"));
    EXPECT_EQ(outcome.message,
              "Cannot download \"" + m_server.Url("/big.jpg") + "\": Picture too large");
    EXPECT_EQ(outcome.serviceError, ERROR_FILE_TOO_LARGE);

    LoopbackPeer endless;
    endless.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n" + Pattern(300000));
    endless.Start();
    const std::string endlessUrl = "http://127.0.0.1:" + std::to_string(endless.Port()) + "/1.jpg";
    outcome = fetch(endlessUrl);
    EXPECT_EQ(outcome.message, "Cannot download \"" + endlessUrl + "\": Picture too large");
    EXPECT_EQ(outcome.serviceError, ERROR_FILE_TOO_LARGE);
    EXPECT_TRUE(Entries(Dir()).empty());

    // Within every bound the picture arrives whole.
    m_server.WriteFile("fits.jpg", Pattern(100000));
    EXPECT_EQ(fetch(m_server.Url("/fits.jpg")).message, "(no error)");
    EXPECT_TRUE(ReadFile(Target("1.jpg")) == Pattern(100000));
}

TEST_F(ImageFetcher, ProgressTellsTheBytesAndTheAnnouncedSizeAndMayAbort) {
    m_server.WriteFile("p.jpg", Pattern(10000));
    TImageFetcher fetcher;
    std::vector<std::pair<int64_t, int64_t>> calls;
    fetcher.OnProgress = [&](int64_t received, int64_t announced) {
        calls.emplace_back(received, announced);
    };
    fetcher.Fetch(m_server.Url("/p.jpg"), Target("p.jpg"));
    ASSERT_GE(calls.size(), 4u) << "the start and at least three 4024-byte chunks";
    EXPECT_EQ(calls.front(), std::make_pair(int64_t { 0 }, int64_t { 10000 }));
    EXPECT_EQ(calls.back(), std::make_pair(int64_t { 10000 }, int64_t { 10000 }));
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_GT(calls[i].first, calls[i - 1].first);

    // No announced length: -1. An abort from the callback ends the fetch.
    LoopbackPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n" + Pattern(20000)).Stall();
    peer.Start();
    calls.clear();
    fetcher.OnProgress = [&](int64_t received, int64_t announced) {
        calls.emplace_back(received, announced);
        if (received > 0)
            fetcher.Abort();
    };
    const std::string url = "http://127.0.0.1:" + std::to_string(peer.Port()) + "/a.jpg";
    try {
        fetcher.Fetch(url, Target("a.jpg"));
        ADD_FAILURE() << "no error";
    } catch (const EDownloadError& e) {
        EXPECT_EQ(e.Message(), "Cannot download \"" + url + "\": Cancelled");
        EXPECT_EQ(e.ServiceError, ERROR_INTERNET_OPERATION_CANCELLED);
    }
    EXPECT_FALSE(fetcher.Fetching());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], std::make_pair(int64_t { 0 }, int64_t { -1 }));
    EXPECT_EQ(calls[1].second, -1);
    EXPECT_EQ(Entries(Dir()), std::vector<std::string> { "p.jpg" });
    peer.Stop();
}

TEST(InOutError, LinuxErrorsMapToTheRuntimeCodesAndTexts) {
    struct Row {
        int systemError;
        int code;
        const char* message;
    };
    const Row rows[] = {
        { ENOENT, 3, "Invalid filename" },
        { ENOTDIR, 3, "Invalid filename" },
        { ENAMETOOLONG, 3, "Invalid filename" },
        { EMFILE, 4, "Too many open files" },
        { ENFILE, 4, "Too many open files" },
        { EACCES, 5, "File access denied" },
        { EISDIR, 5, "File access denied" },
        { EROFS, 5, "File access denied" },
        { EPERM, 5, "File access denied" },
        { ENOSPC, 101, "Disk full" },
        { EDQUOT, 101, "Disk full" },
        { EIO, 29, "I/O error 29" },
        { EBADF, EBADF, "I/O error 9" },
    };
    for (const Row& row : rows) {
        const EInOutError error = InOutErrorFromErrno(row.systemError);
        EXPECT_EQ(error.ErrorCode, row.code) << row.systemError;
        EXPECT_EQ(error.Message(), row.message) << row.systemError;
    }
    EXPECT_EQ(InOutErrorMessage(2), "File not found");
    EXPECT_EQ(InOutErrorMessage(100), "Read beyond end of file");
    EXPECT_EQ(InOutErrorMessage(106), "Invalid numeric input");
}
