#pragma once

#include "platform/HostResolver.h"

// Lays a lookup result out as the library's host entry in the caller's
// buffer: the hostent record first, then the alias and address pointer
// lists (each ending with a null pointer), the 4-byte addresses and the
// zero-terminated names. Every pointer points into the buffer itself, so the
// entry stays valid exactly as long as the buffer. At most 35 aliases and 35
// addresses are kept, as in the library this copies.
//
// Returns the number of bytes the entry takes. When that is more than
// length, nothing is written.
int WriteHostEntry(const HostLookupResult& result, const std::string& queriedName, char* buffer,
                   int length);
