#pragma once

#include <csignal>
#include <sys/resource.h>

// Caps the size of files this process may write, for as long as it lives,
// so a test can make a write fail part way as on a full disk (the write then
// fails with EFBIG). SIGXFSZ is ignored meanwhile; both are restored after.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    struct rlimit m_saved {};
    void (*m_oldHandler)(int) { SIG_DFL };
};
