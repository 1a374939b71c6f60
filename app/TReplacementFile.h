#pragma once

#include <cstddef>
#include <string>

// New content for a file, written into a temporary file beside it and put in
// its place only by Commit. Until then the target is untouched; if the
// object goes away uncommitted (an error, a broken download), the temporary
// file is removed, so no half-written target is ever left behind.
//
// Failures raise EInOutError with the code for the errno (see InOutError.h).
// A target that is an existing directory, or an existing file we may not
// write, fails at construction with code 5, as creating it would.
class TReplacementFile {
public:
    explicit TReplacementFile(const std::string& target);
    ~TReplacementFile();
    TReplacementFile(const TReplacementFile&) = delete;
    TReplacementFile& operator=(const TReplacementFile&) = delete;

    void Write(const void* data, size_t count);
    // Flushes to the disk, closes, and renames over the target.
    void Commit();

    const std::string& TemporaryName() const { return m_temporary; }

private:
    std::string m_target;
    std::string m_temporary;
    int m_fd { -1 };
    bool m_committed { false };
};
