#include "tests/support/LocalServerProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <stdexcept>
#include <thread>

namespace {

constexpr auto kStartDeadline = std::chrono::seconds(30);

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

LocalServerProcess::LocalServerProcess() {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

LocalServerProcess::~LocalServerProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
}

std::string LocalServerProcess::Directory() const {
    return m_directory.path().toStdString() + "/";
}

std::string LocalServerProcess::Output() {
    m_output += m_process.readAll().toStdString();
    return m_output;
}

uint16_t LocalServerProcess::FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool LocalServerProcess::Accepts() const {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(m_port);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

void LocalServerProcess::Start(const QString& program, const QStringList& arguments,
                               uint16_t port) {
    m_port = port;
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000))
        throw std::runtime_error("cannot start " + program.toStdString());
    const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
    while (std::chrono::steady_clock::now() < deadline) {
        if (m_process.state() == QProcess::NotRunning)
            break;
        if (m_port != 0 && Accepts())
            return;
        m_process.waitForReadyRead(50);
        Output();
    }
    throw std::runtime_error(program.toStdString() + " did not come up: " + Output());
}

uint16_t LocalServerProcess::WaitForNumberAfter(const std::string& text) {
    const std::regex pattern(text + " ([0-9]+)");
    const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
    std::smatch match;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string output = Output();
        if (std::regex_search(output, match, pattern))
            return static_cast<uint16_t>(std::stoi(match[1].str()));
        if (m_process.state() == QProcess::NotRunning)
            break;
        m_process.waitForReadyRead(100);
    }
    return 0;
}
