// The download run against a wallpaper site served only over HTTPS, with a
// certificate of the test CA that the program trusts through
// WALLPAPERS_EXTRA_CA_FILE: pages through the socket component's TLS,
// pictures through the URL service.
#include "net/TlsSession.h"
#include "tests/app/DownloadRunFixture.h"
#include "tests/support/JpegFixtures.h"
#include "tests/support/NginxServer.h"
#include "tests/support/TestCertificates.h"

#include <QtGlobal>

namespace {

// Names the test CA for the program for as long as it lives.
class TrustedTestCa {
public:
    explicit TrustedTestCa(const std::string& caFile) {
        qputenv("WALLPAPERS_EXTRA_CA_FILE", QByteArray::fromStdString(caFile));
    }
    ~TrustedTestCa() { qunsetenv("WALLPAPERS_EXTRA_CA_FILE"); }
    TrustedTestCa(const TrustedTestCa&) = delete;
    TrustedTestCa& operator=(const TrustedTestCa&) = delete;
};

NginxServer::Options TlsOptions(const TestCertificates& certificates) {
    NginxServer::Options options;
    options.tls = true;
    options.certificate = certificates.Good().certificate;
    options.certificateKey = certificates.Good().key;
    return options;
}

class DownloadRunTls : public DownloadRunTest {
protected:
    void SetUp() override {
        // The components read the variable when they are made.
        DownloadRunTest::SetUp();
        Form1->SiteAddress = m_server.BaseUrl();
    }

    TestCertificates m_certificates;
    TrustedTestCa m_trust { m_certificates.CaFile() };
    NginxServer m_server { TlsOptions(m_certificates) };
};

} // namespace

TEST_F(DownloadRunTls, PagesAndPicturesComeOverHttps) {
    std::vector<std::string> pictures;
    for (int number = 200; number <= 201; ++number) {
        const std::string picture = "images/" + std::to_string(number) + ".jpg";
        pictures.push_back(MakeJpeg(320, 200 + number - 200));
        m_server.WriteFile(picture, pictures.back());
        m_server.WriteFile(PagePath(number).substr(1),
                           "<html>\r\n<body>\r\n<img class=\"wallpaper\" src=\"" +
                               m_server.Url("/" + picture) + "\">\r\n</body>\r\n</html>\r\n");
    }
    ASSERT_EQ(m_server.BaseUrl().rfind("https://", 0), 0u);

    ClickDownload(200, 201);
    EXPECT_EQ(m_errors, std::vector<std::string> {});
    EXPECT_EQ(ReadFile(PictureFile(200)), pictures[0]);
    EXPECT_EQ(ReadFile(PictureFile(201)), pictures[1]);
    EXPECT_EQ(LogText(), "200\r\n201\r\n");
    EXPECT_EQ(TTlsSession::LiveSessions(), 0);
}
