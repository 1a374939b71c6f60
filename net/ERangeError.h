#pragma once

#include "toolkit/runtime/Exception.h"

// A value that does not fit where it has to go: a negative time limit, a
// socket handle above 16 bits, a zero-terminated send of more than 65,535
// bytes. Deliberately not an ESockError, so socket error handlers miss it.
class ERangeError : public Exception {
public:
    ERangeError() : Exception("Range check error") {}
};
