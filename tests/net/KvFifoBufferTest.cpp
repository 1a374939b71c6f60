#include "net/KvFifoBuffer.h"
#include "tests/net/FifoModel.h"
#include "tests/support/MemAvailable.h"
#include "toolkit/runtime/Exception.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <climits>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Points TMPDIR at a fresh directory for the test's spill files.
class FifoBuffer : public ::testing::Test {
protected:
    void SetUp() override { qputenv("TMPDIR", m_dir.path().toLocal8Bit()); }
    void TearDown() override {
        m_oldTmp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", m_oldTmp);
    }
    QStringList SpillFiles() const { return QDir(m_dir.path()).entryList(QDir::Files); }
    std::string Dir() const { return m_dir.path().toStdString() + "/"; }

    QByteArray m_oldTmp = qgetenv("TMPDIR");
    QTemporaryDir m_dir;
};

void Append(TKvFifoBuffer& buffer, const std::string& bytes) {
    buffer.Append(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// Cuts the buffer's spill file to `size` bytes behind its back. The file has
// no name any more, so it is found among this process's open files.
bool TruncateSpillFile(const TKvFifoBuffer& buffer, off_t size) {
    const std::string deleted = buffer.TempFileName() + " (deleted)";
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        if (std::filesystem::read_symlink(fd.path(), error).string() == deleted)
            return ::ftruncate(std::stoi(fd.path().filename().string()), size) == 0;
    }
    return false;
}

std::string Extract(TKvFifoBuffer& buffer, int32_t length) {
    std::string out(static_cast<size_t>(length), '\0');
    out.resize(static_cast<size_t>(buffer.Extract(out.data(), length)));
    return out;
}

std::string Peek(TKvFifoBuffer& buffer, int32_t length) {
    std::string out(static_cast<size_t>(length), '\0');
    out.resize(static_cast<size_t>(buffer.Peek(out.data(), length)));
    return out;
}

template <typename Call> std::string ErrorOf(Call call) {
    try {
        call();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "no error";
}

// ThreadSanitizer keeps shadow memory for every byte written, which pages
// given back to the kernel do not take with them.
#if defined(__SANITIZE_THREAD__)
constexpr bool kShadowedMemory = true;
#elif defined(__has_feature)
constexpr bool kShadowedMemory = __has_feature(thread_sanitizer);
#else
constexpr bool kShadowedMemory = false;
#endif

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

TEST(FifoBufferCapacity, FivePercentRoundedDownToKiBAndAtLeast64KiB) {
    EXPECT_EQ(TKvFifoBuffer::CapacityFor(536870912u), 26843136);
    EXPECT_EQ(TKvFifoBuffer::CapacityFor(0), 65536);
    EXPECT_EQ(TKvFifoBuffer::CapacityFor(1310719u), 65536);
    EXPECT_EQ(TKvFifoBuffer::CapacityFor(1331200u), 66560);
    EXPECT_EQ(TKvFifoBuffer::CapacityFor(1331199u), 65536);
    EXPECT_EQ(TKvFifoBuffer::CapacityFor(0xFFFFFFFFu), 214748160);

    // A buffer made without a capacity takes 5 % of the memory available
    // now; with more than 4 GiB available that is 5 % of the 32-bit cap.
    std::unique_ptr<TKvFifoBuffer> buffer;
    const MemAvailableSpan kernel =
        MemAvailableAround([&] { buffer = std::make_unique<TKvFifoBuffer>(); });
    ASSERT_GT(kernel.Low, 0u) << "no MemAvailable in /proc/meminfo";
    const auto capacity = static_cast<uint64_t>(buffer->Capacity());
    if (kernel.AllAbove(0xFFFFFFFFu)) {
        EXPECT_EQ(capacity, 214748160u);
    } else {
        EXPECT_GE(capacity, 65536u);
        EXPECT_TRUE(capacity == 65536 || kernel.Holds(capacity * 20))
            << capacity << " is not 5 % of " << kernel.Low << ".." << kernel.High;
    }
}

TEST(FifoBufferCapacity, MemoryBlockIsReservedNotTouched) {
    const long before = ResidentKiB();
    TKvFifoBuffer buffer(256 * 1024 * 1024);
    const std::string bytes(4096, 'x');
    Append(buffer, bytes);
    EXPECT_LT(ResidentKiB() - before, 32 * 1024);
    EXPECT_EQ(Extract(buffer, 4096), bytes);

    SCOPED_TRACE("Clear gives the pages that held bytes back and the block stays usable");
    const std::string chunk(1024 * 1024, 'y');
    for (int i = 0; i < 64; ++i)
        Append(buffer, chunk);
    EXPECT_GT(ResidentKiB() - before, 60 * 1024);
    buffer.Clear();
    if (!kShadowedMemory) {
        EXPECT_LT(ResidentKiB() - before, 32 * 1024);
    }
    EXPECT_EQ(buffer.Count(), 0);
    Append(buffer, "ab\r\n");
    EXPECT_EQ(buffer.Search("\n"), 4);
    EXPECT_EQ(Extract(buffer, 8), "ab\r\n");
}

TEST_F(FifoBuffer, SpillsOnlyPastCapacityAndKeepsOrderAcrossRefills) {
    TKvFifoBuffer buffer(8);
    Append(buffer, "01234567");
    EXPECT_EQ(buffer.TempFileName(), "");
    EXPECT_TRUE(SpillFiles().isEmpty());

    Append(buffer, "8");
    // The spill file is unlinked as soon as it is open: nothing named stays
    // in the temporary directory, whatever ends the process.
    EXPECT_EQ(buffer.TempFileName().rfind(Dir() + "Buf", 0), 0u) << buffer.TempFileName();
    EXPECT_TRUE(SpillFiles().isEmpty());

    Append(buffer, "9abcdefghijklmnopq");
    EXPECT_EQ(buffer.Count(), 27);
    EXPECT_EQ(Peek(buffer, 3), "012");
    EXPECT_EQ(Peek(buffer, 12), "0123456789ab");
    EXPECT_EQ(buffer.Count(), 27);
    // Across the seam: memory bytes first, then file bytes; the memory part
    // is now empty and a refill starts, which the next call waits for.
    EXPECT_EQ(Extract(buffer, 10), "0123456789");
    EXPECT_EQ(buffer.Count(), 17);
    EXPECT_EQ(Extract(buffer, 3), "abc");
    EXPECT_EQ(Extract(buffer, 5), "defgh");
    Append(buffer, "rs");
    EXPECT_EQ(Extract(buffer, 100), "ijklmnopqrs");
    EXPECT_EQ(buffer.Count(), 0);
    EXPECT_EQ(Extract(buffer, 1), "");
}

TEST_F(FifoBuffer, RefillWorkerWakesItsWaiters) {
    {
        // Thousands of refills, each waited for by the next operation: a
        // waiter that slept instead of being woken would stall this for minutes.
        SCOPED_TRACE("a spill drained in pieces of the capacity");
        TKvFifoBuffer buffer(16);
        std::string bytes(64 * 1024, '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>('a' + i % 23);
        Append(buffer, bytes);
        std::string drained;
        while (buffer.Count() > 0)
            drained += Extract(buffer, 16);
        EXPECT_EQ(drained, bytes);
    }
    {
        // The worker wakes the waiters after lowering the flag, when the
        // owner may already have destroyed the buffer.
        SCOPED_TRACE("destroyed right after the extract that starts a refill");
        for (int i = 0; i < 200; ++i) {
            TKvFifoBuffer buffer(4);
            Append(buffer, "abcdefgh");
            ASSERT_EQ(Extract(buffer, 4), "abcd");
        }
    }
    EXPECT_TRUE(SpillFiles().isEmpty());
}

TEST_F(FifoBuffer, SearchFindsTheLineEnd) {
    TKvFifoBuffer buffer(64);
    char bytes[8];
    EXPECT_EQ(buffer.Extract(bytes, 8), 0);
    EXPECT_EQ(buffer.Peek(bytes, 8), 0);
    EXPECT_EQ(buffer.Search("a long delimiter"), 0);
    Append(buffer, "abc\r\ndef");
    EXPECT_EQ(buffer.Search("\n"), 5);
    EXPECT_EQ(buffer.Search("\r\n"), 5);
    EXPECT_EQ(buffer.Search("x"), 0);
    EXPECT_EQ(buffer.Search(""), 0);
    EXPECT_EQ(buffer.Search("abcdefghi"), -1);
    EXPECT_EQ(Extract(buffer, 5), "abc\r\n");
    EXPECT_EQ(Extract(buffer, 3), "def");

    SCOPED_TRACE("a zero byte before the line end hides it, one after it does not");
    Append(buffer, std::string("ab\0c\r\n", 6));
    EXPECT_EQ(buffer.Search("\n"), 0);
    buffer.Clear();
    Append(buffer, std::string("ab\r\n\0c\n", 7));
    EXPECT_EQ(buffer.Search("\n"), 4);
    EXPECT_EQ(buffer.Search("c"), 0);

    SCOPED_TRACE("stale bytes beyond the unread ones are never matched");
    buffer.Clear();
    Append(buffer, "xxxx\n");
    Extract(buffer, 5);
    Append(buffer, "ab");
    EXPECT_EQ(buffer.Search("\n"), 0);
    EXPECT_EQ(buffer.Search("b"), 2);
}

TEST_F(FifoBuffer, SearchAcrossTheMemoryFileSeam) {
    {
        SCOPED_TRACE("two-byte delimiter split over the seam");
        TKvFifoBuffer buffer(8);
        Append(buffer, "abcdefg\r\nxyz");
        EXPECT_EQ(buffer.Search("\r\n"), 9);
        EXPECT_EQ(buffer.Search("yz"), 12);
        EXPECT_EQ(buffer.Search("z"), 12);
        EXPECT_EQ(buffer.Search("q"), 0);
        EXPECT_EQ(Extract(buffer, 9), "abcdefg\r\n");
    }
    {
        SCOPED_TRACE("memory part shorter than the delimiter");
        TKvFifoBuffer buffer(8);
        Append(buffer, "0123456ABCDE");
        EXPECT_EQ(Extract(buffer, 6), "012345");
        EXPECT_EQ(buffer.Search("6AB"), 3);
        EXPECT_EQ(buffer.Search("BCD"), 5);
    }
    {
        SCOPED_TRACE("the delimiter is the whole content");
        TKvFifoBuffer buffer(2);
        Append(buffer, "abcd");
        EXPECT_EQ(buffer.Search("abcd"), 4);
        EXPECT_EQ(buffer.Search("abcde"), -1);
    }
    {
        // A refill leaves the moved bytes in the spill file; what is appended
        // after it overwrites them only as far as it goes.
        SCOPED_TRACE("bytes left in the spill file past its unread part are not searched");
        TKvFifoBuffer buffer(4);
        Append(buffer, "abcdXYZW");
        EXPECT_EQ(Extract(buffer, 4), "abcd");
        Append(buffer, "Q");
        EXPECT_EQ(buffer.Search("WQY"), 0);
        EXPECT_EQ(buffer.Search("WQ"), 5);
        TKvFifoBuffer shortMemory(8);
        Append(shortMemory, "01234567ABCDEFGH");
        EXPECT_EQ(Extract(shortMemory, 8), "01234567");
        Append(shortMemory, "xyz");
        EXPECT_EQ(Extract(shortMemory, 5), "ABCDE");
        EXPECT_EQ(shortMemory.Search("HxyzD"), 0);
        EXPECT_EQ(shortMemory.Search("Hxyz"), 6);
    }
    {
        SCOPED_TRACE("a zero byte in the file part hides what follows it");
        TKvFifoBuffer buffer(4);
        Append(buffer, std::string("abcd\0\n", 6));
        EXPECT_EQ(buffer.Search("\n"), 0);
    }
}

TEST_F(FifoBuffer, FileStretchIsSearchedInChunksOf65535Bytes) {
    TKvFifoBuffer buffer(4);
    std::string bytes(4 + 65534, 'x');
    bytes += "\r\n";
    Append(buffer, bytes);
    // "\r" ends the first chunk and "\n" starts the second.
    EXPECT_EQ(buffer.Search("\r\n"), 0);
    EXPECT_EQ(buffer.Search("\n"), 4 + 65536);
}

TEST_F(FifoBuffer, FindByteTreatsZeroBytesAsOrdinaryBytes) {
    TKvFifoBuffer buffer(8);
    EXPECT_EQ(buffer.FindByte('\n'), 0);
    Append(buffer, std::string("a\0b\r\n\0\n", 8));
    EXPECT_EQ(buffer.FindByte('\n'), 5);
    EXPECT_EQ(buffer.FindByte('\0'), 2);
    EXPECT_EQ(buffer.FindByte('x'), 0);
    EXPECT_EQ(Extract(buffer, 5), std::string("a\0b\r\n", 5));
    EXPECT_EQ(buffer.FindByte('\n'), 2);
    {
        SCOPED_TRACE("stale bytes beyond the unread ones are never matched");
        Extract(buffer, 2);
        Append(buffer, "ab");
        EXPECT_EQ(buffer.FindByte('\n'), 0);
    }
    {
        // One byte cannot straddle two chunks of the spill file: a CR LF
        // that does is found by its LF.
        SCOPED_TRACE("in the file part, behind zero bytes and past a chunk edge");
        buffer.Clear();
        std::string bytes(8 + 65534, '\0');
        bytes += "\r\nrest";
        Append(buffer, bytes);
        EXPECT_EQ(buffer.FindByte('\n'), 8 + 65536);
        EXPECT_EQ(buffer.FindByte('\r'), 8 + 65535);
        EXPECT_EQ(buffer.FindByte('t'), static_cast<int32_t>(bytes.size()));
    }
    {
        SCOPED_TRACE("right after the extract that starts a refill");
        EXPECT_EQ(Extract(buffer, 8), std::string(8, '\0'));
        EXPECT_EQ(buffer.FindByte('\n'), 65536);
        EXPECT_EQ(Extract(buffer, 65536).back(), '\n');
        EXPECT_EQ(buffer.FindByte('t'), 4);
    }
}

TEST_F(FifoBuffer, FindByteAgreesWithAStringOverRandomOperations) {
    std::mt19937 rng(17);
    for (const int32_t capacity : { 1, 5, 64 }) {
        TKvFifoBuffer buffer(capacity);
        std::string model;
        for (int step = 0; step < 1000; ++step) {
            if (rng() % 2 == 0 && model.size() < 20000) {
                std::string bytes(rng() % 200, '\0');
                for (char& c : bytes)
                    c = "\0\nab"[rng() % 4];
                Append(buffer, bytes);
                model += bytes;
            } else {
                const auto length = static_cast<int32_t>(rng() % 150);
                ASSERT_EQ(Extract(buffer, length), model.substr(0, static_cast<size_t>(length)));
                model.erase(0, static_cast<size_t>(length));
            }
            const size_t at = model.find('\n');
            const int32_t expected = at == std::string::npos ? 0 : static_cast<int32_t>(at + 1);
            ASSERT_EQ(buffer.FindByte('\n'), expected)
                << "capacity " << capacity << ", step " << step;
            // A search that resumes anywhere up to the first line end, as a
            // waiting ReadLn does, finds the same.
            const auto from = static_cast<int32_t>(rng() % (std::min(at, model.size()) + 1));
            ASSERT_EQ(buffer.FindByte('\n', from), expected)
                << "from " << from << ", capacity " << capacity << ", step " << step;
        }
    }
}

TEST_F(FifoBuffer, TailReceiveKeepsTheOrderAcrossSpillAndRefill) {
    // The socket component's pattern: receive into the free tail while there
    // is one, append through the receive area while the spill file holds
    // bytes, and take out in pieces of random size.
    std::mt19937 rng(23);
    TKvFifoBuffer buffer(4096);
    std::deque<char> model;
    uint8_t next = 0;
    int intoTail = 0;
    int behindTheFile = 0;
    for (int step = 0; step < 4000; ++step) {
        if (rng() % 3 != 0 && model.size() < 200000) {
            const auto length = static_cast<int32_t>(rng() % 3000 + 1);
            std::string bytes(static_cast<size_t>(length), '\0');
            for (char& c : bytes)
                c = static_cast<char>(next++);
            model.insert(model.end(), bytes.begin(), bytes.end());
            const TKvFifoBuffer::TSpan tail = buffer.FreeTail();
            if (tail.Length > 0) {
                const int32_t n = std::min(tail.Length, length);
                std::copy_n(bytes.data(), n, tail.Data);
                buffer.Commit(n);
                bytes.erase(0, static_cast<size_t>(n));
                ++intoTail;
            } else if (!buffer.TempFileName().empty() && buffer.Count() > 0) {
                ++behindTheFile;
            }
            Append(buffer, bytes);
        } else {
            const auto length = static_cast<int32_t>(rng() % 9000);
            std::string got;
            auto expected = std::min<size_t>(static_cast<size_t>(length), model.size());
            const TKvFifoBuffer::TData head = buffer.DataHead();
            if (rng() % 2 == 0 && head.Length > 0) {
                // Taken straight from the memory part, as the capture does.
                expected = std::min(expected, static_cast<size_t>(head.Length));
                got.assign(head.Data, expected);
                buffer.Drop(static_cast<int32_t>(expected));
            } else {
                got = Extract(buffer, length);
            }
            ASSERT_EQ(got.size(), expected) << "step " << step;
            ASSERT_TRUE(std::equal(got.begin(), got.end(), model.begin())) << "step " << step;
            model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(got.size()));
        }
        ASSERT_EQ(buffer.Count(), static_cast<int32_t>(model.size())) << "step " << step;
    }
    EXPECT_GT(intoTail, 100);
    EXPECT_GT(behindTheFile, 100) << "appends while the spill file held bytes";

    SCOPED_TRACE("a commit or a drop past the span is refused");
    buffer.Clear();
    Append(buffer, "abc");
    EXPECT_EQ(ErrorOf([&] { buffer.Drop(4); }), "Drop beyond the data head");
    EXPECT_EQ(ErrorOf([&] { buffer.Drop(-1); }), "Drop beyond the data head");
    EXPECT_EQ(buffer.Count(), 3);
    buffer.Drop(3);
    const TKvFifoBuffer::TSpan tail = buffer.FreeTail();
    EXPECT_EQ(tail.Length, 4096);
    EXPECT_EQ(ErrorOf([&] { buffer.Commit(4097); }), "Commit beyond the free tail");
    EXPECT_EQ(ErrorOf([&] { buffer.Commit(-1); }), "Commit beyond the free tail");
    EXPECT_EQ(buffer.Count(), 0);
}

TEST_F(FifoBuffer, SpillFileIsDeletedByClearAndDestroy) {
    std::string first;
    {
        TKvFifoBuffer buffer(4);
        Append(buffer, "abcdef");
        first = buffer.TempFileName();
        ASSERT_FALSE(first.empty());
        buffer.Clear();
        EXPECT_EQ(buffer.TempFileName(), "");
        EXPECT_EQ(buffer.Count(), 0);
        EXPECT_TRUE(SpillFiles().isEmpty());

        Append(buffer, "ghijkl");
        EXPECT_TRUE(SpillFiles().isEmpty());
        EXPECT_FALSE(buffer.TempFileName().empty());
        EXPECT_EQ(Extract(buffer, 6), "ghijkl");
    }
    EXPECT_TRUE(SpillFiles().isEmpty());
}

TEST_F(FifoBuffer, RefusesUnusableRangesAndOverflow) {
    TKvFifoBuffer buffer(16);
    buffer.Append(nullptr, 0);
    buffer.Append(nullptr, -5);
    EXPECT_EQ(buffer.Count(), 0);
    char bytes[4] = { 'a', 'b', 'c', 'd' };
    EXPECT_EQ(ErrorOf([&] { buffer.Append(nullptr, 1); }), "Can't read the source buffer");
    EXPECT_EQ(ErrorOf([&] { buffer.Append(reinterpret_cast<const void*>(UINTPTR_MAX - 1), 4); }),
              "Can't read the source buffer");
    EXPECT_EQ(buffer.Count(), 0);

    buffer.Append(bytes, 4);
    EXPECT_EQ(ErrorOf([&] { buffer.Extract(nullptr, 1); }),
              "Can't write to the destination buffer");
    EXPECT_EQ(ErrorOf([&] { buffer.Peek(reinterpret_cast<void*>(UINTPTR_MAX - 1), 4); }),
              "Can't write to the destination buffer");
    EXPECT_EQ(buffer.Count(), 4);

    buffer.Append("ef", 2);
    // The whole length is checked, also when fewer bytes are held.
    EXPECT_EQ(ErrorOf([&] { buffer.Extract(reinterpret_cast<void*>(UINTPTR_MAX - 16), 20); }),
              "Can't write to the destination buffer");
    EXPECT_EQ(ErrorOf([&] { buffer.Append(reinterpret_cast<const void*>(0x8000), 1); }),
              "Can't read the source buffer");
    EXPECT_EQ(buffer.Count(), 6);

    // Count never passes 2^31 - 1: reserve (not commit) a 2 GiB source.
    void* huge = mmap(nullptr, size_t { INT32_MAX }, PROT_READ,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(huge, MAP_FAILED);
    EXPECT_EQ(ErrorOf([&] { buffer.Append(huge, INT32_MAX - 5); }),
              "The receive buffer cannot hold more than 2147483647 bytes");
    munmap(huge, size_t { INT32_MAX });
    EXPECT_EQ(buffer.Count(), 6);
    EXPECT_EQ(buffer.TempFileName(), "");
    EXPECT_EQ(Extract(buffer, 6), "abcdef");
}

TEST_F(FifoBuffer, SpillFailureIsAnOsErrorAndKeepsTheMemoryPart) {
    TKvFifoBuffer buffer(4);
    setenv("TMPDIR", (Dir() + "missing").c_str(), 1);
    EXPECT_EQ(ErrorOf([&] { Append(buffer, "abcdef"); }),
              "System Error.  Code: 2.\nNo such file or directory");
    EXPECT_EQ(buffer.Count(), 4);
    EXPECT_EQ(Extract(buffer, 4), "abcd");
}

// A spill file that gives back fewer bytes than it holds must never let
// later bytes overtake the lost ones: the buffer fails until Clear.
TEST_F(FifoBuffer, ASpillFileThatComesUpShortFailsTheBuffer) {
    const std::string failed = "Can't read the receive buffer's spill file back";
    for (const bool refill : { true, false }) {
        SCOPED_TRACE(refill ? "the refill after the memory part empties" : "a read past it");
        TKvFifoBuffer buffer(4);
        Append(buffer, "abcdefghij");
        // The file loses its tail behind the buffer's back.
        ASSERT_TRUE(TruncateSpillFile(buffer, 2));
        if (refill) {
            EXPECT_EQ(Extract(buffer, 4), "abcd");
            EXPECT_EQ(ErrorOf([&] { Append(buffer, "XY"); }), failed);
        } else {
            EXPECT_EQ(ErrorOf([&] { Extract(buffer, 10); }), failed);
            EXPECT_EQ(ErrorOf([&] { Append(buffer, "XY"); }), failed);
        }
        EXPECT_EQ(ErrorOf([&] { Extract(buffer, 1); }), failed);
        EXPECT_EQ(ErrorOf([&] { Peek(buffer, 1); }), failed);
        EXPECT_EQ(ErrorOf([&] { buffer.FindByte('j'); }), failed);
        EXPECT_EQ(ErrorOf([&] { buffer.Search("j"); }), failed);

        buffer.Clear();
        EXPECT_EQ(buffer.Count(), 0);
        Append(buffer, "klmnopq");
        EXPECT_EQ(Extract(buffer, 7), "klmnopq");
    }
}

TEST_F(FifoBuffer, AgreesWithADequeOverRandomOperations) {
    for (const int32_t capacity : { 1, 3, 8, 64 }) {
        for (uint32_t seed = 1; seed <= 6; ++seed) {
            std::mt19937 rng(seed * 7919 + static_cast<uint32_t>(capacity));
            std::vector<uint8_t> script(3000);
            for (uint8_t& b : script)
                b = static_cast<uint8_t>(rng());
            TFifoModel model(capacity);
            EXPECT_EQ(model.Run(script.data(), script.size()), "")
                << "capacity " << capacity << ", seed " << seed;
        }
    }
    EXPECT_TRUE(SpillFiles().isEmpty());
}
