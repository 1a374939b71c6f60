#pragma once

#include "toolkit/runtime/TFileStream.h"

#include <string>

// Writes a file anew without ever leaving it truncated or half written: the
// bytes go to a temporary file beside the target, and Commit() flushes it to
// disk and renames it over the target in one step. Until then, and whenever
// anything fails, the old file stays untouched; a stream destroyed without
// Commit() removes its temporary file.
//
// Errors speak of the target, as a plain "create anew" would: failing to make
// the temporary file or to rename it raises `Cannot create file "%s". %s`
// with the target's full path; a short write or a failed flush raises
// "Stream write error" (LastError() then holds the errno). An existing target
// that we may not write, or a directory, is refused at construction like a
// failed create, so a write-protected file is not replaced behind the user's
// back. The new file keeps an existing target's permission bits; a new target
// gets the usual mode (0666 less the umask). The temporary file's name is
// hidden (a leading dot).
class TAtomicFileStream : public TFileStream {
public:
    explicit TAtomicFileStream(const std::string& fileName);
    ~TAtomicFileStream() override;

    void Commit();

    const std::string& TargetName() const { return m_target; }

private:
    struct Temporary {
        int fd;
        std::string name;
    };
    static Temporary CreateTemporary(const std::string& target);
    TAtomicFileStream(const std::string& fileName, Temporary temporary);

    std::string m_target;
    bool m_committed { false };
};
