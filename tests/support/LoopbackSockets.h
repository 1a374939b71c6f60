#pragma once

#include <cstdint>
#include <vector>

// Plain POSIX sockets on 127.0.0.1 for socket component tests that need a
// situation LoopbackPeer does not play.

// A listener whose accept queue is full and never drained: a further
// connection attempt gets no answer at all (its SYN is dropped), so it stays
// in progress until the client gives up.
class BacklogFullListener {
public:
    BacklogFullListener();
    ~BacklogFullListener();
    BacklogFullListener(const BacklogFullListener&) = delete;
    BacklogFullListener& operator=(const BacklogFullListener&) = delete;

    std::uint16_t Port() const { return m_port; }

private:
    int m_listenFd = -1;
    std::vector<int> m_fillers;
    std::uint16_t m_port = 0;
};

// A blocking client connection to 127.0.0.1:port, closed by the destructor.
class LoopbackClient {
public:
    explicit LoopbackClient(std::uint16_t port);
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // The client's own port, as the server sees it.
    std::uint16_t LocalPort() const;

private:
    int m_fd = -1;
};
