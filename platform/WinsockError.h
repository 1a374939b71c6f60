#pragma once

// Translation of POSIX error reports into the socket library's error numbers.

// errno → WSA error number (would-block and in-progress → WSAEWOULDBLOCK,
// refused → WSAECONNREFUSED, ...); anything without a counterpart becomes
// WSAEINVAL.
int WinsockErrorFromErrno(int posixError);

// getaddrinfo's EAI_* result → WSAHOST_NOT_FOUND, WSATRY_AGAIN,
// WSANO_RECOVERY or WSANO_DATA (0 stays 0).
int WinsockErrorFromLookup(int lookupError, int posixError);
