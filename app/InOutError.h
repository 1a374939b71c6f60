#pragma once

#include "toolkit/runtime/Exception.h"

#include <string>

// The runtime's input/output error codes and their texts, as the picture
// fetcher reports file failures: 2 "File not found", 3 "Invalid filename",
// 4 "Too many open files", 5 "File access denied", 100 "Read beyond end of
// file", 101 "Disk full", 106 "Invalid numeric input", any other code
// "I/O error %d".

// The code for a Linux errno value:
//   ENOENT, ENOTDIR, ENAMETOOLONG, ELOOP (a missing or bad path) -> 3
//   EMFILE, ENFILE                                                -> 4
//   EACCES, EPERM, EISDIR, EROFS, ETXTBSY (directory or read-only) -> 5
//   ENOSPC, EDQUOT, EFBIG (nothing more can be stored)            -> 101
//   EIO (a device fault; its number would read as code 5)         -> 29
//   anything else                                                 -> the errno value
int InOutErrorCode(int systemError);

std::string InOutErrorMessage(int code);

// The error to raise for a failed file operation with the given errno.
EInOutError InOutErrorFromErrno(int systemError);
