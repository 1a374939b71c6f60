#pragma once

#include <cstdint>
#include <string>

// A loopback port whose connections never complete: the listener's accept
// queue is full and nobody accepts, so the kernel drops further connection
// requests and a client's connect hangs until its own time limit.
class UnansweredListener {
public:
    UnansweredListener();
    ~UnansweredListener();
    UnansweredListener(const UnansweredListener&) = delete;
    UnansweredListener& operator=(const UnansweredListener&) = delete;

    std::uint16_t Port() const { return m_port; }
    std::string Url(const std::string& path) const;

private:
    int m_listener { -1 };
    // Connections that fill the accept queue.
    int m_fillers[4] { -1, -1, -1, -1 };
    std::uint16_t m_port { 0 };
};
