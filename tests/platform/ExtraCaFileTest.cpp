// The extra CA file named by WALLPAPERS_EXTRA_CA_FILE, as the picture
// downloads honour it: a server whose CA it names is trusted, and without
// it the same server is refused.
#include "platform/ExtraCaFile.h"
#include "platform/UrlService.h"
#include "tests/support/NginxServer.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <QtGlobal>

namespace {

bool Fetches(const std::string& url) {
    TInternetHandle root(
        InternetOpenA("ExtraCaFileTest", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    TInternetHandle file(InternetOpenUrlA(root.get(), url.c_str(), nullptr, 0, 0, 0));
    return static_cast<bool>(file);
}

} // namespace

TEST(ExtraCaFile, NamesTheCaThatPictureDownloadsTrustBesideTheSystemStore) {
    TestCertificates certificates;
    NginxServer::Options options;
    options.tls = true;
    options.certificate = certificates.Good().certificate;
    options.certificateKey = certificates.Good().key;
    NginxServer server(options);
    server.WriteFile("p.jpg", "picture");

    qunsetenv("WALLPAPERS_EXTRA_CA_FILE");
    EXPECT_EQ(ExtraCaFile(), "");
    EXPECT_FALSE(Fetches(server.Url("/p.jpg"))) << "a CA nobody trusts was accepted";

    qputenv("WALLPAPERS_EXTRA_CA_FILE", QByteArray::fromStdString(certificates.CaFile()));
    EXPECT_EQ(ExtraCaFile(), certificates.CaFile());
    EXPECT_TRUE(Fetches(server.Url("/p.jpg"))) << InternetLastErrorText();
    qunsetenv("WALLPAPERS_EXTRA_CA_FILE");
}
