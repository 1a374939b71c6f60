// TKvHTTP against servers and a proxy that no one here wrote: what Get leaves
// in Body must be byte for byte what curl fetches from the same URL.
#include "net/KvHttp.h"
#include "tests/support/NginxServer.h"
#include "tests/support/PythonHttpServer.h"
#include "tests/support/TinyproxyServer.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

constexpr size_t kLargeSize = 50 * 1024 * 1024;

std::string Curl(const std::string& url) {
    QProcess curl;
    curl.start("curl",
               { "--silent", "--show-error", "--noproxy", "*", QString::fromStdString(url) });
    EXPECT_TRUE(curl.waitForFinished(120000)) << url;
    EXPECT_EQ(curl.exitCode(), 0) << curl.readAllStandardError().toStdString();
    return curl.readAllStandardOutput().toStdString();
}

// Bytes that show any loss, duplication or reordering, unlike zeros.
std::string RandomBytes(size_t size) {
    std::mt19937_64 random(size);
    std::string bytes(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t word = random();
        std::memcpy(&bytes[i], &word, 8);
    }
    return bytes;
}

const std::string kPage = "<html><head><title>Wallpaper 200</title></head>\r\n<body>\n"
                          "<img class=\"wallpaper\" src=\"/pics/200.jpg\">\n</body></html>\n";

// Get of url must leave in Body exactly what curl fetches from it, with
// the status code given; compared without printing 50 MB when they differ.
void ExpectGetMatchesCurl(TKvHTTP& http, const std::string& url, int replyCode = 200) {
    SCOPED_TRACE(url);
    http.Get(url);
    EXPECT_EQ(http.ReplyCode, replyCode);
    const std::string expected = Curl(url);
    ASSERT_EQ(http.Body.size(), expected.size());
    EXPECT_TRUE(http.Body == expected) << "same length, different bytes";
}

} // namespace

TEST(KvHttpInterop, GetFromNginxMatchesCurl) {
    NginxServer nginx;
    nginx.WriteFile("wallpapers/get/id/200/resolution/1024x768", kPage);
    nginx.WriteFile("big.bin", RandomBytes(kLargeSize));
    TKvHTTP http;

    ExpectGetMatchesCurl(http, nginx.Url("/wallpapers/get/id/200/resolution/1024x768"));
    EXPECT_EQ(http.Body, kPage);
    EXPECT_EQ(http.Header.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << http.Header;
    EXPECT_EQ(http.Port, nginx.Port());
    ExpectGetMatchesCurl(http, nginx.Url("/big.bin"));
    ExpectGetMatchesCurl(http, nginx.Url("/nothing-here"), 404);
}

TEST(KvHttpInterop, FollowsNginxRedirect) {
    NginxServer::Options options;
    options.serverConfig = "location = /old { return 302 /new.htm; }";
    NginxServer nginx(options);
    nginx.WriteFile("new.htm", kPage);
    TKvHTTP http;
    http.Get(nginx.Url("/old"));
    EXPECT_EQ(http.ReplyCode, 200);
    EXPECT_EQ(http.Body, kPage);
    EXPECT_EQ(http.URLParts().FileName, "new.htm");
}

TEST(KvHttpInterop, GetFromPythonHttpServerMatchesCurl) {
    PythonHttpServer python;
    python.WriteFile("page.htm", kPage);
    python.WriteFile("big.bin", RandomBytes(kLargeSize));
    TKvHTTP http;
    ExpectGetMatchesCurl(http, python.Url("/page.htm"));
    EXPECT_EQ(http.Body, kPage);
    ExpectGetMatchesCurl(http, python.Url("/big.bin"));
}

TEST(KvHttpInterop, GetThroughTinyproxy) {
    NginxServer nginx;
    nginx.WriteFile("page.htm", kPage);
    nginx.WriteFile("big.bin", RandomBytes(kLargeSize / 10));
    TinyproxyServer proxy;
    TKvHTTP http;
    http.Proxy = "127.0.0.1";
    http.ProxyPort = proxy.Port();
    for (const std::string path : { "/page.htm", "/big.bin" }) {
        ExpectGetMatchesCurl(http, nginx.Url(path));
        // The request went through the proxy, not straight to nginx.
        EXPECT_NE(proxy.Log().find("GET " + nginx.Url(path)), std::string::npos) << proxy.Log();
    }
}
