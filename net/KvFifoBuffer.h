#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TFileStream;

// The receive queue of the socket component: bytes come out in the order
// they were appended. The oldest bytes sit in one memory block whose size is
// fixed at creation; what does not fit goes to a spill file in the temporary
// directory (name beginning "Buf"). When a read empties the memory block while
// the file still holds bytes, a short-lived worker thread moves the oldest
// file bytes back into the block.
//
// Threads: the buffer belongs to one thread. The only other thread is the
// refill worker, and the busy flag is the only link between them: the owner
// sets it before starting the worker, the worker clears it as its last step
// (release) and wakes the waiters, and every operation waits on it (acquire)
// before touching the data. Count() may be read at any time; a refill never
// changes it.
//
// A spill file that gives back fewer bytes than it holds (a refill or a read
// that comes up short or fails) leaves the buffer failed: every later
// Append, Extract, Peek, Search and FindByte raises "Can't read the receive
// buffer's spill file back" until Clear, so no byte is ever delivered out of
// order or lost without a word.
class TKvFifoBuffer {
public:
    // The memory block gets 5 % of the available physical memory, rounded
    // down to a multiple of 1,024 and at least 65,536 bytes. It is reserved,
    // not touched: resident memory grows with the bytes actually held.
    TKvFifoBuffer();
    // For tests: the given memory capacity (at least 1).
    explicit TKvFifoBuffer(int32_t capacity);
    ~TKvFifoBuffer();
    TKvFifoBuffer(const TKvFifoBuffer&) = delete;
    TKvFifoBuffer& operator=(const TKvFifoBuffer&) = delete;

    // The capacity rule applied to an amount of available memory in bytes.
    static int32_t CapacityFor(uint32_t availableBytes);

    // Unread bytes held, memory part plus file part.
    int32_t Count() const { return m_count; }
    int32_t Capacity() const { return m_capacity; }
    // Full path the spill file was made under (it is unlinked as soon as it
    // is open, so no name outlives the process); empty while there is none.
    const std::string& TempFileName() const { return m_tempFileName; }

    // Stores all length bytes at the tail; nothing for length <= 0. Raises
    // "Can't read the source buffer" for an unusable source range and refuses
    // (storing nothing) an append that would take Count past 2^31 - 1.
    void Append(const void* source, int32_t length);
    // Receiving straight into the buffer: FreeTail gives the free room of the
    // memory part where the next appended byte goes, and Commit makes the
    // first n bytes written there part of the buffer, as Append would. The
    // span is empty while the spill file holds bytes (a byte kept in memory
    // then would come out ahead of older ones in the file), when the memory
    // part is full and at the 2^31 - 1 bound; the caller then appends. The
    // span stays valid until the next other operation. FreeTail waits for a
    // refill under way and raises as Append for a failed buffer; Commit
    // raises "Commit beyond the free tail" for n < 0 or past the span.
    struct TSpan {
        char* Data { nullptr };
        int32_t Length { 0 };
    };
    TSpan FreeTail();
    void Commit(int32_t n);
    // Taking out without a copy into a staging area: DataHead gives the
    // unread bytes of the memory part, oldest first (empty while they are
    // all in the spill file), and Drop removes the first n of them, as
    // Extract would. The span stays valid until the next other operation.
    // DataHead waits for a refill under way; both raise as Extract for a
    // failed buffer, and Drop raises "Drop beyond the data head" for n < 0
    // or past the span.
    struct TData {
        const char* Data { nullptr };
        int32_t Length { 0 };
    };
    TData DataHead();
    void Drop(int32_t n);
    // Copies up to length bytes (at most Count) from the head and removes
    // them; returns the number copied. "Can't write to the destination buffer"
    // for an unusable destination range of the full length.
    int32_t Extract(void* destination, int32_t length);
    // As Extract, but nothing is removed.
    int32_t Peek(void* destination, int32_t length);
    // Bytes from the head up to and including the first occurrence of the
    // zero-terminated delimiter; 0 when there is none (a zero byte ahead of it
    // hides it, and nothing is found while the memory part is empty); -1 when
    // fewer bytes are held than the delimiter is long or it is longer than
    // 65,535 bytes.
    int32_t Search(const char* delimiter);
    // Bytes from the head up to and including the first byte of that value,
    // searched over every byte held (memory and file part, zero bytes being
    // ordinary bytes); 0 when there is none. The search starts 'from' bytes
    // after the head: a caller that waits for the byte passes how many bytes
    // it has already searched in vain, so that bytes appended meanwhile are
    // all that is looked at. Waits for a refill under way.
    int32_t FindByte(char value, int32_t from = 0);
    // Drops all data and deletes the spill file. The memory block stays
    // mapped; the pages that held bytes go back to the system, except those
    // of its first MiB.
    void Clear();

private:
    class TBlock;

    // Every operation passes here, and the flag is nearly always down: a
    // plain load tells that without the atomic wait, which enters and leaves
    // the process-wide waiter table (two locked updates) even when it need
    // not sleep.
    void WaitWhileBusy() const {
        if (m_busy->load(std::memory_order_acquire) != 0)
            SleepWhileBusy();
    }
    void SleepWhileBusy() const;
    // WaitWhileBusy, then raises if the buffer has failed.
    void WaitUntilUsable() const {
        WaitWhileBusy();
        if (m_failed)
            RaiseFailed();
    }
    [[noreturn]] static void RaiseFailed();
    // Leaves the buffer failed and raises.
    [[noreturn]] void Fail();
    void StartRefill();
    void CreateTempFile();
    void DropTempFile();
    int32_t Copy(char* destination, int32_t length, bool remove);
    // Removes bytes from the head of both parts; starts a refill when the
    // memory part runs empty while the file holds bytes.
    void Remove(int32_t memoryBytes, int32_t fileBytes);
    int32_t ReadFile(int64_t position, char* destination, int32_t length);
    int32_t SearchFileStretch(const char* delimiter, int32_t length);
    // Offset just past a match within data[0, size), or -1 for none.
    using TChunkSearch = std::function<int64_t(const char* data, size_t size)>;
    // Searches the file part chunk by chunk, from 'skip' bytes into it; the
    // offset from the head just past the first match, or 0.
    int32_t SearchFileChunks(const TChunkSearch& search, int32_t skip = 0);
    static void Refill(void* buffer);

    int32_t m_count { 0 };
    int32_t m_capacity { 0 };
    std::unique_ptr<TBlock> m_block;
    int32_t m_memUnread { 0 };
    int32_t m_memWritePos { 0 };
    int32_t m_memReadPos { 0 };
    // How far into the block bytes were written since creation, or since
    // Clear beyond the part it keeps: the pages that Clear gives back.
    int32_t m_memTouched { 0 };
    std::string m_tempFileName;
    std::unique_ptr<TFileStream> m_tempFile;
    int32_t m_fileUnread { 0 };
    // 64-bit: a spill file that is never emptied keeps growing past 2 GiB
    // even though it never holds more than Count unread bytes.
    int64_t m_fileWritePos { 0 };
    int64_t m_fileReadPos { 0 };
    // Set by the owner or the refill worker, read by the owner once the
    // worker is done.
    bool m_failed { false };
    // Shared with the refill worker, which keeps its own reference: after
    // clearing the flag it still wakes the waiters, by which time the owner
    // may have seen the flag down and destroyed the buffer.
    using TBusyFlag = std::atomic<uint32_t>;
    std::shared_ptr<TBusyFlag> m_busy { std::make_shared<TBusyFlag>(0) };
};
