#include "net/KvFifoBuffer.h"

#include "net/TSimpleThread.h"
#include "platform/Kernel.h"
#include "toolkit/runtime/TFileStream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int32_t kMinimumCapacity = 0x10000;
constexpr size_t kLongestDelimiter = 65535;
constexpr int32_t kFileChunk = 65535;
// Bytes at the start of the memory block that Clear leaves resident; a
// multiple of every page size.
constexpr size_t kKeptResident = 1 << 20;
constexpr const char* kSpillReadFailed = "Can't read the receive buffer's spill file back";

// Offset just past the first occurrence of the delimiter in data[0, size),
// searched as zero-terminated text: nothing at or after the first zero byte
// counts. -1 when there is none. The delimiter itself holds no zero byte, so
// only the bytes ahead of the first match are looked at for a zero byte, not
// the whole (possibly large) rest of the buffer.
int64_t FindText(const char* data, size_t size, const char* delimiter, size_t length) {
    if (length == 0 || size < length)
        return -1;
    const void* match = ::memmem(data, size, delimiter, length);
    if (!match)
        return -1;
    const auto end = static_cast<size_t>(static_cast<const char*>(match) - data) + length;
    return std::memchr(data, 0, end) ? -1 : static_cast<int64_t>(end);
}

} // namespace

// The memory part: capacity + 1 bytes of address space, mapped without
// reserving swap and without touching the pages, so a large capacity costs
// nothing until bytes are actually held. The byte at index capacity is zero
// and stays so: a text search from any read position stops there at the latest.
class TKvFifoBuffer::TBlock {
public:
    explicit TBlock(int32_t capacity) : m_size(static_cast<size_t>(capacity) + 1) {
        void* data = ::mmap(nullptr, m_size, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (data == MAP_FAILED)
            RaiseLastOSError();
        m_data = static_cast<char*>(data);
        m_data[capacity] = 0;
    }
    ~TBlock() { ::munmap(m_data, m_size); }
    TBlock(const TBlock&) = delete;
    TBlock& operator=(const TBlock&) = delete;

    char* Data() const { return m_data; }

    // Hands the pages of the bytes from offset 'from' (a page boundary) up to
    // 'used' back to the kernel: the mapping stays and resident memory drops.
    // The pages read as zero until written again, so the terminating zero
    // byte stays zero. A failure only keeps the pages resident, so it is not
    // reported.
    void Release(size_t from, size_t used) {
        static const auto pageSize = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        const size_t end = (used + pageSize - 1) / pageSize * pageSize;
        if (end > from)
            ::madvise(m_data + from, end - from, MADV_DONTNEED);
    }

private:
    size_t m_size;
    char* m_data { nullptr };
};

int32_t TKvFifoBuffer::CapacityFor(uint32_t availableBytes) {
    // 5 % truncated: the same as multiplying by 0.05 for every 32-bit amount.
    const auto share = static_cast<int32_t>(static_cast<uint64_t>(availableBytes) * 5 / 100);
    const int32_t capacity = share - share % 1024;
    return std::max(capacity, kMinimumCapacity);
}

TKvFifoBuffer::TKvFifoBuffer() : TKvFifoBuffer(CapacityFor(GetAvailablePhysicalMemory())) {}

TKvFifoBuffer::TKvFifoBuffer(int32_t capacity)
    : m_capacity(std::max(capacity, 1)), m_block(std::make_unique<TBlock>(m_capacity)) {}

TKvFifoBuffer::~TKvFifoBuffer() {
    WaitWhileBusy();
    DropTempFile();
}

void TKvFifoBuffer::SleepWhileBusy() const {
    // Returns as soon as the worker lowers the flag.
    m_busy->wait(1, std::memory_order_acquire);
}

void TKvFifoBuffer::RaiseFailed() {
    throw Exception(kSpillReadFailed);
}

void TKvFifoBuffer::Fail() {
    m_failed = true;
    RaiseFailed();
}

void TKvFifoBuffer::Clear() {
    WaitWhileBusy();
    m_failed = false;
    DropTempFile();
    // The socket component clears at every connect: the block keeps its
    // mapping (no new one per request) and gives its pages back, all but the
    // first few, which every request would otherwise fault in afresh (that
    // cost a small page fetch a quarter of its time).
    m_block->Release(kKeptResident, static_cast<size_t>(m_memTouched));
    m_memTouched = std::min(m_memTouched, static_cast<int32_t>(kKeptResident));
    m_count = 0;
    m_memUnread = m_memWritePos = m_memReadPos = 0;
    m_fileUnread = 0;
    m_fileWritePos = m_fileReadPos = 0;
}

void TKvFifoBuffer::DropTempFile() {
    if (!m_tempFile)
        return;
    m_tempFile.reset();
    m_tempFileName.clear();
}

void TKvFifoBuffer::CreateTempFile() {
    const std::string name = GetTempFileName(GetTempPath(), "Buf");
    if (name.empty())
        throw Exception("Can't create a temporary file");
    // Unlinked at once: the open stream keeps the file, and whatever ends the
    // process, a crash or a kill, frees it with the stream; nothing is left
    // in the temporary directory.
    try {
        m_tempFile = std::make_unique<TFileStream>(name, fmOpenReadWrite | fmShareExclusive);
    } catch (...) {
        ::unlink(name.c_str());
        throw;
    }
    ::unlink(name.c_str());
    m_tempFileName = name;
    m_tempFile->SetSize(1024);
    m_fileUnread = 0;
    m_fileWritePos = m_fileReadPos = 0;
}

void TKvFifoBuffer::Append(const void* source, int32_t length) {
    WaitUntilUsable();
    if (length <= 0)
        return;
    if (IsBadReadPtr(source, static_cast<size_t>(length)))
        throw Exception("Can't read the source buffer");
    if (length > std::numeric_limits<int32_t>::max() - m_count)
        throw Exception("The receive buffer cannot hold more than 2147483647 bytes");

    const char* bytes = static_cast<const char*>(source);
    const int32_t m = std::min(length, m_capacity - m_memWritePos);
    std::memcpy(m_block->Data() + m_memWritePos, bytes, static_cast<size_t>(m));
    m_memUnread += m;
    m_memWritePos += m;
    m_memTouched = std::max(m_memTouched, m_memWritePos);
    m_count += m;
    if (m == length)
        return;

    if (!m_tempFile)
        CreateTempFile();
    const int32_t rest = length - m;
    m_tempFile->Seek(m_fileWritePos, TSeekOrigin::soBeginning);
    m_tempFile->WriteBuffer(bytes + m, rest);
    m_fileUnread += rest;
    m_fileWritePos += rest;
    m_count += rest;
}

TKvFifoBuffer::TSpan TKvFifoBuffer::FreeTail() {
    WaitUntilUsable();
    if (m_fileUnread > 0)
        return {};
    const int32_t room =
        std::min(m_capacity - m_memWritePos, std::numeric_limits<int32_t>::max() - m_count);
    return { m_block->Data() + m_memWritePos, room };
}

void TKvFifoBuffer::Commit(int32_t n) {
    if (n < 0 || n > m_capacity - m_memWritePos ||
        n > std::numeric_limits<int32_t>::max() - m_count || (n > 0 && m_fileUnread > 0))
        throw Exception("Commit beyond the free tail");
    m_memUnread += n;
    m_memWritePos += n;
    m_memTouched = std::max(m_memTouched, m_memWritePos);
    m_count += n;
}

int32_t TKvFifoBuffer::ReadFile(int64_t position, char* destination, int32_t length) {
    if (length <= 0)
        return 0;
    m_tempFile->Seek(position, TSeekOrigin::soBeginning);
    return std::max(m_tempFile->Read(destination, length), 0);
}

// Extract and Peek: the memory bytes first, then the file bytes.
int32_t TKvFifoBuffer::Copy(char* destination, int32_t length, bool remove) {
    WaitUntilUsable();
    if (length <= 0 || m_count <= 0)
        return 0;
    if (IsBadWritePtr(destination, static_cast<size_t>(length)))
        throw Exception("Can't write to the destination buffer");

    const int32_t wanted = std::min(length, m_count);
    const int32_t m = std::min(wanted, m_memUnread);
    if (m > 0)
        std::memcpy(destination, m_block->Data() + m_memReadPos, static_cast<size_t>(m));
    int32_t f = 0;
    if (m_tempFile && m < wanted) {
        const int32_t asked = std::min(wanted - m, m_fileUnread);
        f = ReadFile(m_fileReadPos, destination + m, asked);
        if (f < asked)
            Fail();
    }
    if (remove)
        Remove(m, f);
    return m + f;
}

void TKvFifoBuffer::Remove(int32_t memoryBytes, int32_t fileBytes) {
    m_memUnread -= memoryBytes;
    m_memReadPos += memoryBytes;
    m_fileUnread -= fileBytes;
    m_fileReadPos += fileBytes;
    m_count -= memoryBytes + fileBytes;
    if (m_memUnread == 0) {
        m_memWritePos = m_memReadPos = 0;
        if (m_fileUnread > 0)
            StartRefill();
    }
}

TKvFifoBuffer::TData TKvFifoBuffer::DataHead() {
    WaitUntilUsable();
    return { m_block->Data() + m_memReadPos, m_memUnread };
}

void TKvFifoBuffer::Drop(int32_t n) {
    WaitUntilUsable();
    if (n < 0 || n > m_memUnread)
        throw Exception("Drop beyond the data head");
    Remove(n, 0);
}

int32_t TKvFifoBuffer::Extract(void* destination, int32_t length) {
    return Copy(static_cast<char*>(destination), length, true);
}

int32_t TKvFifoBuffer::Peek(void* destination, int32_t length) {
    return Copy(static_cast<char*>(destination), length, false);
}

void TKvFifoBuffer::StartRefill() {
    // The flag goes up before the worker exists, so no operation of the owner
    // can slip in between the emptying and the refill.
    m_busy->store(1, std::memory_order_release);
    try {
        TSimpleThread::Start(&TKvFifoBuffer::Refill, this);
    } catch (...) {
        // Without a worker the file bytes would never come back and every
        // later call would wait for ever: move them on this thread instead.
        Refill(this);
    }
}

void TKvFifoBuffer::Refill(void* buffer) {
    auto* self = static_cast<TKvFifoBuffer*>(buffer);
    const std::shared_ptr<TBusyFlag> busy = self->m_busy;
    if (self->m_tempFile) {
        const int32_t n = std::min(self->m_capacity, self->m_fileUnread);
        int32_t g = 0;
        try {
            g = self->ReadFile(self->m_fileReadPos, self->m_block->Data(), n);
        } catch (...) {
            g = 0;
        }
        // Bytes appended next would land in memory ahead of the older ones
        // the file failed to give back.
        if (g < n)
            self->m_failed = true;
        self->m_memUnread = self->m_memWritePos = g;
        self->m_memReadPos = 0;
        self->m_memTouched = std::max(self->m_memTouched, g);
        self->m_fileUnread -= g;
        if (self->m_fileUnread > 0) {
            self->m_fileReadPos += g;
        } else {
            self->m_fileWritePos = self->m_fileReadPos = 0;
        }
    }
    // From here on the buffer may be gone; only the flag is used.
    busy->store(0, std::memory_order_release);
    busy->notify_all();
}

int32_t TKvFifoBuffer::Search(const char* delimiter) {
    const size_t length = delimiter ? std::strlen(delimiter) : 0;
    // While a refill runs the memory part is empty as far as the owner is
    // concerned; the worker is filling it, so it is not looked at.
    if (m_busy->load(std::memory_order_acquire) != 0)
        return 0;
    WaitUntilUsable();
    if (m_memUnread < 1)
        return 0;
    if (static_cast<size_t>(m_count) < length || length > kLongestDelimiter)
        return -1;
    if (length == 0)
        return 0;
    const auto L = static_cast<int32_t>(length);

    // Memory stretch.
    if (m_memUnread >= L) {
        const int64_t r = FindText(m_block->Data() + m_memReadPos, static_cast<size_t>(m_memUnread),
                                   delimiter, length);
        if (r > 0)
            return static_cast<int32_t>(r);
    }
    if (m_fileUnread <= 0)
        return 0;

    // Boundary window: a delimiter that starts in memory and ends in the file.
    // The file may hold bytes past its unread part (a refill leaves what it
    // moved), so no more than the unread part is read.
    const char* memoryStart = m_block->Data() + m_memReadPos;
    int32_t memoryBytes = m_memUnread;
    const int32_t fileBytes = std::min(L - 1, m_fileUnread);
    if (m_memUnread >= L) {
        // The memory part is full while the file holds bytes, so its last
        // byte sits at the end of the block.
        memoryStart = m_block->Data() + m_memWritePos - (L - 1);
        memoryBytes = L - 1;
    }
    std::vector<char> window(static_cast<size_t>(memoryBytes + fileBytes));
    std::copy_n(memoryStart, memoryBytes, window.data()); // none for a one-byte delimiter
    const int32_t got = ReadFile(m_fileReadPos, window.data() + memoryBytes, fileBytes);
    window.resize(static_cast<size_t>(memoryBytes) + static_cast<size_t>(got));
    const int64_t r = FindText(window.data(), window.size(), delimiter, length);
    if (r > 0)
        return static_cast<int32_t>(m_memUnread >= L ? m_memUnread - (L - 1) + r : r);

    if (m_fileUnread < L)
        return 0;
    return SearchFileStretch(delimiter, L);
}

// The file part in chunks of up to 65,535 bytes, each searched by itself: a
// delimiter that spans two chunks is not found.
int32_t TKvFifoBuffer::SearchFileStretch(const char* delimiter, int32_t length) {
    return SearchFileChunks([&](const char* data, size_t size) {
        return FindText(data, size, delimiter, static_cast<size_t>(length));
    });
}

int32_t TKvFifoBuffer::SearchFileChunks(const TChunkSearch& search, int32_t skip) {
    std::vector<char> chunk(static_cast<size_t>(std::min(kFileChunk, m_fileUnread)));
    int32_t before = std::max(skip, 0);
    while (before < m_fileUnread) {
        const int32_t want = std::min(kFileChunk, m_fileUnread - before);
        const int32_t got = ReadFile(m_fileReadPos + before, chunk.data(), want);
        if (got <= 0)
            break;
        const int64_t r = search(chunk.data(), static_cast<size_t>(got));
        if (r > 0)
            return m_memUnread + before + static_cast<int32_t>(r);
        before += got;
    }
    return 0;
}

int32_t TKvFifoBuffer::FindByte(char value, int32_t from) {
    WaitUntilUsable();
    const auto find = [value](const char* data, size_t size) -> int64_t {
        const void* match = std::memchr(data, value, size);
        return match ? static_cast<const char*>(match) - data + 1 : -1;
    };
    from = std::max(from, 0);
    if (m_memUnread > from) {
        const int64_t r =
            find(m_block->Data() + m_memReadPos + from, static_cast<size_t>(m_memUnread - from));
        if (r > 0)
            return from + static_cast<int32_t>(r);
    }
    // A single byte never straddles two chunks of the file part.
    return m_fileUnread > 0 ? SearchFileChunks(find, from - m_memUnread) : 0;
}
