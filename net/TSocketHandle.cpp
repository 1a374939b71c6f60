#include "net/TSocketHandle.h"

#include "platform/Winsock.h"

#include <utility>

void TSocketHandle::Close() {
    if (m_socket != NoSocket)
        Winsock::closesocket(std::exchange(m_socket, NoSocket));
}

uint16_t TSocketHandle::Release() {
    return std::exchange(m_socket, NoSocket);
}
