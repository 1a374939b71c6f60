#pragma once

#include "tests/support/LocalServerProcess.h"

#include <chrono>
#include <cstdint>
#include <string>

// A real nginx web server on 127.0.0.1 for tests, one per fixture object.
//
// The constructor fills the private temporary directory (Directory()) with
// the generated configuration, the document root ("html/"), and the pid,
// error and access logs; picks a free port; starts /usr/sbin/nginx in the
// foreground as a child process (one process, no daemon, no privilege
// switching, so it serves exactly the files the test wrote even when the
// tests run as root); and returns once the server accepts connections. It
// throws std::runtime_error with nginx's messages when nginx does not come
// up. The destructor stops nginx and removes the directory.
//
// Typical use:
//     NginxServer server;
//     server.WriteFile("pics/1.jpg", bytes);
//     FetchSomething(server.Url("/pics/1.jpg"));
//     server.WaitForAccessLogLines(1);
//
// Extra configuration can be passed in: `serverConfig` goes inside the one
// `server { }` block (locations, `return 302 /x;`, limits), `httpConfig`
// into the `http { }` block, and `mainConfig` at the top level (for example
// `load_module` lines). The default server serves the document root
// statically with the mime type of each file's extension.
//
// The access log uses this format, one line per request:
//     "$request" $status $body_bytes_sent "$http_user_agent"
class NginxServer : public LocalServerProcess {
public:
    struct Options {
        std::string serverConfig;
        std::string httpConfig;
        std::string mainConfig;
        // Serve HTTPS with a fresh self-signed certificate for 127.0.0.1
        // (CertificatePath()); clients that check certificates refuse it.
        bool tls = false;
        // With tls: serve this certificate and key (PEM files, for example
        // from TestCertificates) instead of the self-signed one.
        std::string certificate;
        std::string certificateKey;
    };

    NginxServer();
    explicit NginxServer(const Options& options);
    // "http://127.0.0.1:<port>" ("https://" with tls), no trailing slash.
    std::string BaseUrl() const;
    // BaseUrl() + path; the path should start with "/".
    std::string Url(const std::string& path) const;

    // Absolute path of the document root, with a trailing "/".
    std::string DocumentRoot() const;
    // Writes a file below the document root, creating its directories.
    void WriteFile(const std::string& relativePath, const std::string& content) const;
    // Makes a file of `size` zero bytes without storing them (a sparse file).
    void WriteSparseFile(const std::string& relativePath, uint64_t size) const;

    std::string AccessLogPath() const;
    std::string AccessLog() const;
    // nginx writes a log line only after the response has gone out, so a
    // client may see its answer before the line exists: wait for it here.
    // Returns the log; fails the calling test when the lines do not come.
    std::string WaitForAccessLogLines(size_t lines,
                                      std::chrono::seconds deadline = std::chrono::seconds(30));
    std::string ErrorLog() const;
    // The server's certificate (PEM) when it serves HTTPS.
    std::string CertificatePath() const { return m_certificate; }

private:
    void MakeCertificate() const;
    void WriteConfig(const Options& options, uint16_t port) const;

    bool m_tls { false };
    std::string m_certificate;
    std::string m_certificateKey;
};
