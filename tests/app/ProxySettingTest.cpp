// Pages take the proxy that the environment names for pictures.
#include "app/ProxySetting.h"
#include "tests/app/DownloadRunFixture.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/NginxServer.h"
#include "tests/support/TinyproxyServer.h"

#include <cstdlib>
#include <map>
#include <optional>

namespace {

using TVariables = std::map<std::string, std::string>;

TEST(ProxySetting, ChosenFromTheEnvironmentAsLibcurlChoosesIt) {
    const std::string none;
    const struct {
        const char* scheme;
        const char* host;
        TVariables variables;
        std::string proxyHost;
        int32_t proxyPort;
    } rows[] = {
        { "http", "site.example", {}, none, 0 },
        { "http",
          "site.example",
          { { "http_proxy", "http://proxy.example:3128" } },
          "proxy.example",
          3128 },
        { "HTTP", "site.example", { { "http_proxy", "proxy.example" } }, "proxy.example", 1080 },
        { "http", "site.example", { { "http_proxy", "http://u:p%40ss@p:8080/" } }, "p", 8080 },
        { "http", "site.example", { { "HTTP_PROXY", "p:1" } }, none, 0 },
        { "https", "site.example", { { "http_proxy", "p:1" } }, none, 0 },
        { "https", "site.example", { { "https_proxy", "p:1" }, { "HTTPS_PROXY", "q:2" } }, "p", 1 },
        { "https", "site.example", { { "HTTPS_PROXY", "q:2" } }, "q", 2 },
        { "http", "site.example", { { "http_proxy", "p:1" }, { "all_proxy", "q:2" } }, "p", 1 },
        { "https", "site.example", { { "http_proxy", "p:1" }, { "ALL_PROXY", "q:2" } }, "q", 2 },
        { "http", "site.example", { { "http_proxy", "" }, { "all_proxy", "q:2" } }, "q", 2 },
        // Malformed, or of a kind the page component cannot speak.
        { "http", "site.example", { { "http_proxy", "http://:3128" } }, none, 0 },
        { "http", "site.example", { { "http_proxy", "p:0" } }, none, 0 },
        { "http", "site.example", { { "http_proxy", "p:65536" } }, none, 0 },
        { "http", "site.example", { { "http_proxy", "p:80a" } }, none, 0 },
        { "http", "site.example", { { "http_proxy", "socks5://p:1080" } }, none, 0 },
        { "http", "site.example", { { "http_proxy", "https://p:443" } }, none, 0 },
        { "http", "site.example", { { "http_proxy", "http://[::1]:3128" } }, none, 0 },
        // Hosts that go direct.
        { "http", "site.example", { { "http_proxy", "p:1" }, { "no_proxy", "*" } }, none, 0 },
        { "http",
          "site.example",
          { { "http_proxy", "p:1" }, { "no_proxy", "a.b, .example" } },
          none,
          0 },
        { "http",
          "site.example",
          { { "http_proxy", "p:1" }, { "NO_PROXY", "SITE.example" } },
          none,
          0 },
        { "http",
          "site.example",
          { { "http_proxy", "p:1" }, { "no_proxy", "ite.example" } },
          "p",
          1 },
        { "http",
          "site.example",
          { { "http_proxy", "p:1" }, { "no_proxy", "" }, { "NO_PROXY", "*" } },
          none,
          0 },
        { "http",
          "127.0.0.1",
          { { "http_proxy", "p:1" }, { "no_proxy", "127.0.0.0/8" } },
          none,
          0 },
        { "http", "127.0.0.1", { { "http_proxy", "p:1" }, { "no_proxy", "127.0.0.1" } }, none, 0 },
        { "http", "127.0.0.1", { { "http_proxy", "p:1" }, { "no_proxy", "0.0.1" } }, "p", 1 },
        { "http", "127.0.0.1", { { "http_proxy", "p:1" }, { "no_proxy", "10.0.0.0/8" } }, "p", 1 },
    };
    for (const auto& row : rows) {
        const TProxySetting proxy =
            ProxyFor(row.scheme, row.host, [&row](const char* name) -> const char* {
                const auto found = row.variables.find(name);
                return found == row.variables.end() ? nullptr : found->second.c_str();
            });
        const std::string variables = ::testing::PrintToString(row.variables);
        EXPECT_EQ(proxy.Host, row.proxyHost) << row.scheme << " " << row.host << " " << variables;
        if (!row.proxyHost.empty()) {
            EXPECT_EQ(proxy.Port, row.proxyPort) << variables;
        }
    }
}

// Sets or unsets an environment variable for the test's time.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

class DownloadRunProxy : public DownloadRunTest {};

} // namespace

TEST_F(DownloadRunProxy, PagesAndPicturesGoThroughTheProxyTheEnvironmentNames) {
    NginxServer site;
    TinyproxyServer proxy;
    const std::string page = site.Url(PagePath(200));
    const std::string picture = site.Url("/images/200.jpg");
    site.WriteFile(PagePath(200).substr(1),
                   "<p>\r\n<img class=\"wallpaper\" src=\"" + picture + "\">\r\n");
    site.WriteFile("images/200.jpg", MakeJpeg(30, 20));

    const std::string address = "http://127.0.0.1:" + std::to_string(proxy.Port());
    const ScopedVariable httpProxy("http_proxy", address.c_str());
    const ScopedVariable noProxy("no_proxy", nullptr);
    const ScopedVariable noProxyUpper("NO_PROXY", nullptr);
    // As the program does once it knows the site.
    Form1->SiteAddress = site.BaseUrl();
    UsePageProxy(Form1->KvHTTP1, Form1->SiteAddress);

    ClickDownload(200, 200);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_EQ(LogText(), "200\r\n");
    const std::string log = proxy.Log();
    EXPECT_NE(log.find("GET " + page), std::string::npos) << log;
    EXPECT_NE(log.find("GET " + picture), std::string::npos) << log;
}
