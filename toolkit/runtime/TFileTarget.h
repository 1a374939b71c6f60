#pragma once

#include <string>

#include <sys/stat.h>
#include <sys/types.h>

// Where writing to a file name lands, and the rule for what may be written
// there: only a regular file is ever written or replaced.
//
// Symbolic links are followed (a link stays a link and the file it ends at
// is the one written), up to as many hops as the kernel allows. The place is
// then held as an open descriptor of the folder the chain ends in plus the
// entry's name there, and every later step (opening, linking, renaming) is
// taken relative to that descriptor without following links again, so a
// link swapped in meanwhile is not followed.
//
// Refused at construction, with ENotRegularFile naming the given name:
// - an entry that is not a regular file (a device, a FIFO, a socket); a
//   directory raises EFCreateError with EISDIR, as a plain create would;
// - a chain of links that ends at a missing file, unless the caller allows
//   making that file and it would lie in the folder of the name itself (a
//   link can never send a write into another folder).
// Open() checks what it opened with fstat, so a device or FIFO put in the
// entry's place after construction is still refused.
class TFileTarget {
public:
    enum class TDangling {
        CreateInSameFolder, // a link to a missing file beside it: make that file
        Refuse,
    };

    TFileTarget(const std::string& name, TDangling dangling);
    ~TFileTarget();
    TFileTarget(TFileTarget&& other) noexcept;
    TFileTarget(const TFileTarget&) = delete;
    TFileTarget& operator=(const TFileTarget&) = delete;
    TFileTarget& operator=(TFileTarget&&) = delete;

    // The name as given, for messages.
    const std::string& Name() const { return m_name; }
    // The folder's descriptor (O_PATH), and the entry's name in it.
    int Folder() const { return m_folder; }
    const std::string& Entry() const { return m_entry; }
    // The file the links lead to, as a path.
    const std::string& Path() const { return m_path; }

    // Whether the entry existed at construction, and its status then.
    bool Exists() const { return m_exists; }
    const struct stat& Status() const { return m_status; }

    // Opens the entry with `flags` (O_CREAT allowed) without following a
    // link and without blocking on a FIFO or device; raises ENotRegularFile
    // when what was opened is not a regular file. Returns the descriptor in
    // blocking mode, or -1 with errno set when the open itself failed.
    int Open(int flags, mode_t mode = 0666) const;
    // Raises ENotRegularFile unless the entry is now missing or a regular
    // file: checked right before a new file is put in its place.
    void CheckReplaceable() const;

private:
    std::string m_name;
    std::string m_path;
    std::string m_entry;
    int m_folder { -1 };
    bool m_exists { false };
    struct stat m_status {};
};
