#pragma once

#include <cstdint>

// The value of the 16-bit SocketHandle while the component has no socket.
// The socket library numbers its sockets from 1 to 0xFFFE, so no socket
// ever carries it.
constexpr uint16_t NoSocket = 0xFFFF;

// The one owner of the socket component's socket: its number in the socket
// library's 16-bit range, or NoSocket. The socket it holds is closed by
// Close, by Reset to another one, and with the owner; after a close the
// owner holds NoSocket, so a closed socket's number never stays behind. It
// reads as the number, for the socket library's calls.
class TSocketHandle {
public:
    TSocketHandle() = default;
    explicit TSocketHandle(uint16_t socket) : m_socket(socket) {}
    ~TSocketHandle() { Close(); }
    TSocketHandle(const TSocketHandle&) = delete;
    TSocketHandle& operator=(const TSocketHandle&) = delete;

    operator uint16_t() const { return m_socket; }

    // Closes the socket held, if any, and takes over socket.
    void Reset(uint16_t socket) {
        Close();
        m_socket = socket;
    }
    void Close();
    // Gives the socket up unclosed; the owner then holds NoSocket.
    uint16_t Release();

private:
    uint16_t m_socket { NoSocket };
};
