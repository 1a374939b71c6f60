#include "tests/support/NginxServer.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);
// Another process may take the free port before nginx binds it; then
// nginx exits at once and a new port is tried.
constexpr int kStartAttempts = 5;

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

size_t CountLines(const std::string& text) {
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

} // namespace

NginxServer::NginxServer() : NginxServer(Options {}) {}

NginxServer::NginxServer(const Options& options)
    : m_tls(options.tls), m_certificate(options.certificate),
      m_certificateKey(options.certificateKey) {
    std::filesystem::create_directories(Directory() + "html");
    std::filesystem::create_directories(Directory() + "temp");
    if (m_tls && m_certificate.empty()) {
        m_certificate = Directory() + "cert.pem";
        m_certificateKey = Directory() + "key.pem";
        MakeCertificate();
    }
    const QString prefix = QString::fromStdString(Directory());
    for (int attempt = 1;; ++attempt) {
        const uint16_t port = FreePort();
        WriteConfig(options, port);
        try {
            Start("/usr/sbin/nginx",
                  { "-p", prefix, "-c", prefix + "nginx.conf", "-e", prefix + "error.log" }, port);
            return;
        } catch (const std::runtime_error& e) {
            if (attempt == kStartAttempts)
                throw std::runtime_error(std::string(e.what()) + "\n" + ErrorLog());
        }
    }
}

void NginxServer::MakeCertificate() const {
    const QString dir = QString::fromStdString(Directory());
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start("openssl", { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                               "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                               "-keyout", dir + "key.pem", "-out", dir + "cert.pem" });
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
        throw std::runtime_error("openssl could not make a certificate: " +
                                 openssl.readAll().toStdString());
}

void NginxServer::WriteConfig(const Options& options, uint16_t port) const {
    const std::string d = Directory();
    std::ofstream conf(d + "nginx.conf", std::ios::trunc);
    conf << "daemon off;\n"
         << "master_process off;\n"
         << "pid " << d << "nginx.pid;\n"
         << "error_log " << d << "error.log info;\n"
         << options.mainConfig << "\n"
         << "events { worker_connections 256; }\n"
         << "http {\n"
         << "    include /etc/nginx/mime.types;\n"
         << "    default_type application/octet-stream;\n"
         << "    log_format tests '\"$request\" $status $body_bytes_sent \"$http_user_agent\"';\n"
         << "    access_log " << d << "access.log tests;\n"
         << "    client_body_temp_path " << d << "temp/body;\n"
         << "    proxy_temp_path " << d << "temp/proxy;\n"
         << "    fastcgi_temp_path " << d << "temp/fastcgi;\n"
         << "    uwsgi_temp_path " << d << "temp/uwsgi;\n"
         << "    scgi_temp_path " << d << "temp/scgi;\n"
         << "    sendfile on;\n"
         << options.httpConfig << "\n"
         << "    server {\n"
         << "        listen 127.0.0.1:" << port << (m_tls ? " ssl" : "") << ";\n";
    if (m_tls)
        conf << "        ssl_certificate " << m_certificate << ";\n"
             << "        ssl_certificate_key " << m_certificateKey << ";\n";
    conf << "        server_name localhost;\n"
         << "        root " << d << "html;\n"
         << options.serverConfig << "\n"
         << "    }\n"
         << "}\n";
}

std::string NginxServer::BaseUrl() const {
    return (m_tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(Port());
}

std::string NginxServer::Url(const std::string& path) const {
    return BaseUrl() + path;
}

std::string NginxServer::DocumentRoot() const {
    return Directory() + "html/";
}

void NginxServer::WriteFile(const std::string& relativePath, const std::string& content) const {
    const std::filesystem::path path = DocumentRoot() + relativePath;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void NginxServer::WriteSparseFile(const std::string& relativePath, uint64_t size) const {
    WriteFile(relativePath, std::string());
    std::filesystem::resize_file(DocumentRoot() + relativePath, size);
}

std::string NginxServer::AccessLogPath() const {
    return Directory() + "access.log";
}

std::string NginxServer::AccessLog() const {
    return ReadWholeFile(AccessLogPath());
}

std::string NginxServer::WaitForAccessLogLines(size_t lines, std::chrono::seconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::string log = AccessLog();
    while (CountLines(log) < lines && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(kPollInterval);
        log = AccessLog();
    }
    EXPECT_GE(CountLines(log), lines) << "access log:\n" << log;
    return log;
}

std::string NginxServer::ErrorLog() const {
    return ReadWholeFile(Directory() + "error.log");
}
