#pragma once

#include "net/ESockError.h"

#include <array>
#include <cstdint>
#include <string>

// One record of the socket error table: a socket library error number and
// the text shown for it.
struct TSocketErrorRecord {
    int32_t Number;
    const char* Text;
};

// The 51 records in their fixed order. The last one (number 0) is never
// selected, because number 0 means "no error" and yields no text.
extern const std::array<TSocketErrorRecord, 51> SocketErrorTable;

// "10061:Connection refused" for a number in the table, "Unknown Error No. n"
// for one that is not, and "" for 0.
std::string SocketErrorTableText(uint16_t number);

// The kind of failure a socket library error number stands for: a refused
// connection, a reset or dropped one, the library's own time-out, a host
// name without address, or any other socket failure.
TSockFailure SocketErrorFailure(int32_t number);
