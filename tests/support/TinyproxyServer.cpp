#include "tests/support/TinyproxyServer.h"

#include <QFile>

#include <fstream>
#include <sstream>

TinyproxyServer::TinyproxyServer() {
    const uint16_t port = FreePort();
    const std::string config = Directory() + "tinyproxy.conf";
    std::ofstream(config) << "Port " << port << "\n"
                          << "Listen 127.0.0.1\n"
                          << "Timeout 60\n"
                          << "MaxClients 20\n"
                          << "Allow 127.0.0.1\n"
                          << "LogLevel Info\n"
                          << "LogFile \"" << Directory() << "tinyproxy.log\"\n";
    Start("/usr/bin/tinyproxy", { "-d", "-c", QString::fromStdString(config) }, port);
}

std::string TinyproxyServer::Log() const {
    std::ifstream file(Directory() + "tinyproxy.log");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
