#include "bench/BenchNginx.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

BenchNginx::BenchNginx(const std::string& serverConfig) {
    const std::string d = Directory();
    std::filesystem::create_directories(d + "html");
    std::filesystem::create_directories(d + "temp");
    const uint16_t port = FreePort();
    std::ofstream conf(d + "nginx.conf", std::ios::trunc);
    conf << "daemon off;\nmaster_process off;\npid " << d << "nginx.pid;\n"
         << "error_log " << d << "error.log warn;\n"
         << "events { worker_connections 1024; }\n"
         << "http {\n"
         << "    default_type application/octet-stream;\n"
         << "    access_log off;\n"
         << "    sendfile on;\n"
         << "    keepalive_requests 100000;\n"
         << "    client_body_temp_path " << d << "temp/body;\n"
         << "    proxy_temp_path " << d << "temp/proxy;\n"
         << "    fastcgi_temp_path " << d << "temp/fastcgi;\n"
         << "    uwsgi_temp_path " << d << "temp/uwsgi;\n"
         << "    scgi_temp_path " << d << "temp/scgi;\n"
         << "    server {\n"
         << "        listen 127.0.0.1:" << port << " backlog=1024;\n"
         << "        root " << d << "html;\n"
         << serverConfig << "    }\n"
         << "}\n";
    conf.close();
    const QString prefix = QString::fromStdString(d);
    Start("/usr/sbin/nginx",
          { "-p", prefix, "-c", prefix + "nginx.conf", "-e", prefix + "error.log" }, port);
}

std::string BenchNginx::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(Port()) + path;
}

void BenchNginx::WriteFile(const std::string& name, const std::string& content) const {
    std::ofstream out(Directory() + "html/" + name, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + name);
}
