#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// One HTTP/1.0 GET of path from 127.0.0.1:port over a fresh blocking
// connection: connect, one send of the request, reads into buffer until the
// server closes, close. Returns the bytes received (status line, head and
// body; what did not fit the buffer is counted and dropped), or -1 with errno
// set. The floor of any client that opens a connection per request.
long PlainFetch(unsigned short port, const char* path, char* buffer, size_t size);

#ifdef __cplusplus
}
#endif
