#include "platform/Winsock.h"

namespace Winsock {
int WSAStartup(WORD, WSADATA*) { return WSASYSNOTREADY; }
int WSACleanup() { return SOCKET_ERROR; }
int WSAGetLastError() { return WSANOTINITIALISED; }
void WSASetLastError(int) {}
SOCKET socket(int, int, int) { return INVALID_SOCKET; }
int closesocket(SOCKET) { return SOCKET_ERROR; }
int bind(SOCKET, const sockaddr*, int) { return SOCKET_ERROR; }
int listen(SOCKET, int) { return SOCKET_ERROR; }
SOCKET accept(SOCKET, sockaddr*, int*) { return INVALID_SOCKET; }
int connect(SOCKET, const sockaddr*, int) { return SOCKET_ERROR; }
int send(SOCKET, const char*, int, int) { return SOCKET_ERROR; }
int recv(SOCKET, char*, int, int) { return SOCKET_ERROR; }
int shutdown(SOCKET, int) { return SOCKET_ERROR; }
int setsockopt(SOCKET, int, int, const char*, int) { return SOCKET_ERROR; }
int getsockopt(SOCKET, int, int, char*, int*) { return SOCKET_ERROR; }
int getsockname(SOCKET, sockaddr*, int*) { return SOCKET_ERROR; }
int getpeername(SOCKET, sockaddr*, int*) { return SOCKET_ERROR; }
u_long inet_addr(const char*) { return INADDR_NONE; }
int WSAAsyncSelect(SOCKET, HWND, UINT, long) { return SOCKET_ERROR; }
HANDLE WSAAsyncGetHostByName(HWND, UINT, const char*, char*, int) { return 0; }
int WSACancelAsyncRequest(HANDLE) { return SOCKET_ERROR; }
}  // namespace Winsock
