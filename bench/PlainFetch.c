#include "bench/PlainFetch.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

static long SendAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t sent = send(fd, data, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return -1;
        data += sent;
        length -= (size_t)sent;
    }
    return 0;
}

long PlainFetch(unsigned short port, const char* path, char* buffer, size_t size) {
    char request[512];
    int length = snprintf(request, sizeof request, "GET %s HTTP/1.0\r\nHost: 127.0.0.1:%u\r\n\r\n",
                          path, (unsigned)port);
    if (length < 0 || (size_t)length >= sizeof request) {
        errno = EINVAL;
        return -1;
    }
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    struct sockaddr_in address = { 0 };
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    long total = -1;
    if (connect(fd, (const struct sockaddr*)&address, sizeof address) == 0 &&
        SendAll(fd, request, (size_t)length) == 0) {
        total = 0;
        for (;;) {
            size_t room = size > (size_t)total ? size - (size_t)total : 0;
            char* into = room > 0 ? buffer + total : buffer;
            ssize_t got = recv(fd, into, room > 0 ? room : size, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                total = -1;
                break;
            }
            if (got == 0)
                break;
            total += got;
        }
    }
    int saved = errno;
    close(fd);
    errno = saved;
    return total;
}
