#include "tests/support/TestCertificates.h"

#include <QProcess>

#include <fstream>
#include <stdexcept>

namespace {
constexpr int kOpensslDeadlineMs = 60000;
const QStringList kEcKey = { "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                             "-nodes" };
constexpr const char* kServerNames = "subjectAltName=IP:127.0.0.1,DNS:localhost";
} // namespace

TestCertificates::TestCertificates() {
    if (!m_directory.isValid())
        throw std::runtime_error("cannot make a temporary directory for certificates");
    const auto q = [this](const char* name) { return QString::fromStdString(Path(name)); };
    Run(QStringList { "req", "-x509" } + kEcKey +
        QStringList { "-days", "2", "-subj", "/CN=Wallpapers Test CA", "-keyout", q("ca.key"),
                      "-out", q("ca.pem") });
    Run(QStringList { "req", "-new" } + kEcKey +
        QStringList { "-subj", "/CN=127.0.0.1", "-keyout", q("server.key"), "-out",
                      q("server.csr") });
    SignWithCa("good.pem", kServerNames, 2, 2);
    // A negative validity ends before it starts: the certificate is expired
    // from the moment it is made.
    SignWithCa("expired.pem", kServerNames, -1, 3);
    SignWithCa("other.pem", "subjectAltName=DNS:other.invalid", 2, 4);
    SignWithCa("wildcard.pem", "subjectAltName=DNS:*.example.test", 2, 5);
    SignWithCa("partial.pem", "subjectAltName=DNS:w*.example.test", 2, 6);
    std::ofstream(Path("names.ext")) << kServerNames << "\n";
    Run({ "x509", "-req", "-in", q("server.csr"), "-key", q("server.key"), "-days", "2", "-extfile",
          q("names.ext"), "-out", q("self.pem") });
}

std::string TestCertificates::Path(const std::string& name) const {
    return m_directory.path().toStdString() + "/" + name;
}

void TestCertificates::SignWithCa(const std::string& name, const std::string& subjectAltName,
                                  int days, int serial) const {
    const std::string extensions = Path(name + ".ext");
    std::ofstream(extensions) << subjectAltName << "\n";
    Run({ "x509", "-req", "-in", QString::fromStdString(Path("server.csr")), "-CA",
          QString::fromStdString(Path("ca.pem")), "-CAkey", QString::fromStdString(Path("ca.key")),
          "-set_serial", QString::number(serial), "-days", QString::number(days), "-extfile",
          QString::fromStdString(extensions), "-out", QString::fromStdString(Path(name)) });
}

void TestCertificates::Run(const QStringList& arguments) const {
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start("openssl", arguments);
    if (!openssl.waitForFinished(kOpensslDeadlineMs) ||
        openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        throw std::runtime_error("openssl " + arguments.join(' ').toStdString() +
                                 " failed: " + openssl.readAll().toStdString());
}
