#include "platform/Kernel.h"

#include "toolkit/runtime/SysUtils.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <unistd.h>
#include <vector>

EOSError::EOSError(int errorCode)
    : Exception("System Error.  Code: " + std::to_string(errorCode) + ".\n" +
                SysErrorMessage(errorCode)),
      ErrorCode(errorCode) {}

void RaiseLastOSError() {
    throw EOSError(errno);
}

uint32_t GetAvailablePhysicalMemory() {
    uint64_t bytes = 0;
    bool found = false;
    if (FILE* meminfo = std::fopen("/proc/meminfo", "re")) {
        char line[256];
        unsigned long long kib = 0;
        while (std::fgets(line, sizeof line, meminfo)) {
            if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
                bytes = static_cast<uint64_t>(kib) * 1024;
                found = true;
                break;
            }
        }
        std::fclose(meminfo);
    }
    if (!found) {
        // Kernels before 3.14 have no MemAvailable; free pages are the
        // nearest figure they give.
        const long pages = sysconf(_SC_AVPHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        if (pages > 0 && pageSize > 0)
            bytes = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
    }
    return bytes > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                        : static_cast<uint32_t>(bytes);
}

std::string GetTempPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/')
        path += '/';
    return path;
}

std::string GetTempFileName(const std::string& directory, const std::string& prefix) {
    std::string name = directory;
    if (name.empty() || name.back() != '/')
        name += '/';
    name += prefix + "XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0)
        RaiseLastOSError();
    ::close(fd);
    return std::string(buffer.data());
}

std::string GetModuleFileName() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            RaiseLastOSError();
        if (static_cast<size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

std::string GetModuleDirectory() {
    return ExtractFilePath(GetModuleFileName());
}

void Sleep(uint32_t milliseconds) {
    timespec left { static_cast<time_t>(milliseconds / 1000),
                    static_cast<long>(milliseconds % 1000) * 1000000L };
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

namespace {

// Arithmetic only: the buffer checks every Append and Extract, and asking the
// kernel about the pages would cost two system calls per operation.
bool IsBadRange(const void* pointer, size_t length) {
    if (length == 0)
        return false;
    const auto start = reinterpret_cast<uintptr_t>(pointer);
    return start < 0x10000 || length - 1 > std::numeric_limits<uintptr_t>::max() - start;
}

} // namespace

bool IsBadReadPtr(const void* pointer, size_t length) {
    return IsBadRange(pointer, length);
}

bool IsBadWritePtr(void* pointer, size_t length) {
    return IsBadRange(pointer, length);
}
