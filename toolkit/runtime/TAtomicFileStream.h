#pragma once

#include "toolkit/runtime/TFileStream.h"
#include "toolkit/runtime/TFileTarget.h"

#include <string>

// Writes a file anew without ever leaving it truncated or half written
// wherever the file system allows: the bytes go to a temporary file beside
// the target, and Commit() flushes it to disk and puts it in the target's
// place in one step. Until then, and whenever anything fails, the old file
// stays untouched.
//
// The temporary file has no name while it is written (O_TMPFILE), so a
// killed process leaves nothing behind; Commit() links it in. Where the file
// system cannot make unnamed files, it is a hidden file named
// ".<target>.<pid>-<n>.tmp", removed by a stream destroyed without Commit()
// and, after a crash, by RemoveStaleTemporaries at the next start.
//
// Only a regular file is replaced (TFileTarget): a symbolic link is followed,
// the file it ends at is the one written, and the temporary file goes beside
// that file, so the link stays a link; a link to a device, FIFO or socket, or
// one to a missing file outside the name's folder, is refused at
// construction with ENotRegularFile (a link to a missing file beside it
// only when the caller allows it). A file
// with more than one hard link, or one in a folder where no file can be
// created, is rewritten in place instead (written from its start, cut to the
// new length and flushed at Commit()), which keeps its links, owner and
// permissions but is not safe against a crash part way.
//
// Errors speak of the target, as a plain "create anew" would: failing to make
// the temporary file or to put it in place raises `Cannot create file "%s".
// %s` with the target's full path; a short write or a failed flush raises
// "Stream write error" (LastError() then holds the errno). An existing target
// that we may not write, or a directory, is refused at construction like a
// failed create, so a write-protected file is not replaced behind the user's
// back. A new file keeps an existing target's permission bits; a new target
// gets the usual mode (0666 less the umask).
class TAtomicFileStream : public TFileStream {
public:
    explicit TAtomicFileStream(
        const std::string& fileName,
        TFileTarget::TDangling dangling = TFileTarget::TDangling::CreateInSameFolder);
    ~TAtomicFileStream() override;

    void Commit();
    // Puts the file in place without waiting for the disk: for a caller
    // that has already flushed the content (Flush) and makes the folder's
    // new entry durable itself later (SyncFolder), off its critical path.
    // A file rewritten in place is flushed as by Commit.
    void CommitWithoutSync();

    // Flushes a folder's entries to disk (a name just put in place there);
    // false when that fails. "" is the current folder.
    static bool SyncFolder(const std::string& folder);

    const std::string& TargetName() const { return m_place.Name(); }

    // For tests: make the hidden named temporary file even where the file
    // system could make an unnamed one.
    static void UseNamedTemporariesOnly(bool on);

    // Removes the named temporary files in the directory (with a trailing
    // "/", or empty for the current one) whose process has ended.
    static void RemoveStaleTemporaries(const std::string& directory);

private:
    enum class Kind { Unnamed, Named, InPlace };
    struct Temporary {
        int fd;
        // The hidden entry of a named one, in the target's folder.
        std::string hidden;
        Kind kind;
    };
    static Temporary CreateTemporary(const TFileTarget& place);
    explicit TAtomicFileStream(TFileTarget place);
    TAtomicFileStream(TFileTarget&& place, Temporary temporary);
    void LinkUnnamed();
    // Renames the hidden entry over the target's; removes it on failure.
    void PutInPlace(const std::string& hidden);
    void Commit(bool sync);

    // The file that is replaced: the target, or where its links lead.
    TFileTarget m_place;
    std::string m_hidden;
    Kind m_kind;
    bool m_committed { false };
};
