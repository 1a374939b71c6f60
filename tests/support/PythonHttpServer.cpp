#include "tests/support/PythonHttpServer.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

PythonHttpServer::PythonHttpServer() {
    std::filesystem::create_directories(Directory() + "www");
    // Port 0: the server picks one and names it in its first line.
    Process().start("python3", { "-u", "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                                 QString::fromStdString(Directory() + "www"), "0" });
    const uint16_t port = WaitForNumberAfter("port");
    if (port == 0)
        throw std::runtime_error("python3 -m http.server did not come up: " + Output());
    SetPort(port);
}

std::string PythonHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(Port()) + path;
}

void PythonHttpServer::WriteFile(const std::string& name, const std::string& content) const {
    std::ofstream file(Directory() + "www/" + name, std::ios::binary);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file)
        throw std::runtime_error("cannot write " + name);
}
