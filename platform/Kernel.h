#pragma once

#include "toolkit/runtime/Exception.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Kernel services the components reach through this layer: memory figures,
// temporary files, the program's own file, sleeping and memory range checks.

// An operating-system call failed: "System Error.  Code: %d." and a line
// break, then the system's text for the code.
class EOSError : public Exception {
public:
    explicit EOSError(int errorCode);
    int ErrorCode;
};

// Raises EOSError for the calling thread's errno.
[[noreturn]] void RaiseLastOSError();

// Physical memory the kernel reports as available to new allocations without
// swapping (MemAvailable), in bytes. The figure is 32-bit: larger amounts
// are reported as 0xFFFFFFFF.
uint32_t GetAvailablePhysicalMemory();

// The temporary-files directory with a trailing '/': $TMPDIR when set and
// not empty, else /tmp. The directory itself is not checked.
std::string GetTempPath();

// Creates a new, empty file with a unique name beginning with prefix in the
// directory and returns its full path. Raises EOSError when no file can be
// made there.
std::string GetTempFileName(const std::string& directory, const std::string& prefix);

// Full path of the running program's file, and its directory with a trailing
// '/'. Raise EOSError when the kernel cannot tell.
std::string GetModuleFileName();
std::string GetModuleDirectory();

// Suspends the calling thread for at least the given milliseconds.
void Sleep(uint32_t milliseconds);

// Whether a caller's memory range cannot be used for reading or writing.
// Refused: a null pointer, a range starting in the lowest 64 KiB (a null
// pointer plus an offset) and a range that wraps around the address space.
// The check is arithmetic only: whether the pages are mapped, and with which
// protection, is not asked (that would cost system calls on every buffer
// operation), so any other range passes and a wrong length is the caller's
// fault, as with memcpy. An empty range is never bad.
bool IsBadReadPtr(const void* pointer, size_t length);
bool IsBadWritePtr(void* pointer, size_t length);
