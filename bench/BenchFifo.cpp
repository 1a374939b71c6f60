// The receive buffer against plain copies.
//
// Memory: 64 KiB chunks appended and extracted again, `batch` chunks at a
// time, in a buffer made as the socket component makes it (its memory part
// is 5 % of the physical memory). Its peers copy the same bytes with memcpy:
// once (source to destination), and in and out of a staging area, which is
// the least any queue that hands out copies must do.
//
// Spill: a buffer whose memory part holds 1 MiB takes 64 MiB, so all but
// the first MiB go to its spill file, and then gives them all back (the
// refill worker brings the file bytes back 1 MiB at a time, and the owner
// waits for each refill to end). Its peers write the same bytes to a file in
// 64 KiB writes, and read them back.
#include "bench/BenchStats.h"
#include "net/KvFifoBuffer.h"

#include <QTemporaryFile>
#include <benchmark/benchmark.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int32_t kChunk = 64 * 1024;
constexpr int32_t kSpillCapacity = 1 << 20;
constexpr int64_t kSpillBytes = 64LL << 20;

std::vector<char> Chunk() {
    std::vector<char> bytes(kChunk);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + 1);
    return bytes;
}

void FifoMemory(benchmark::State& state) {
    const auto batch = static_cast<int>(state.range(0));
    const std::vector<char> in = Chunk();
    std::vector<char> out(kChunk);
    TKvFifoBuffer fifo;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i)
            fifo.Append(in.data(), kChunk);
        for (int i = 0; i < batch; ++i)
            benchmark::DoNotOptimize(fifo.Extract(out.data(), kChunk));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * batch * kChunk);
}

void MemcpyOnce(benchmark::State& state) {
    const auto batch = static_cast<int>(state.range(0));
    const std::vector<char> in = Chunk();
    std::vector<char> out(static_cast<size_t>(batch) * kChunk);
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i)
            std::memcpy(out.data() + static_cast<size_t>(i) * kChunk, in.data(), kChunk);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * batch * kChunk);
}

void MemcpyInAndOut(benchmark::State& state) {
    const auto batch = static_cast<int>(state.range(0));
    const std::vector<char> in = Chunk();
    std::vector<char> stage(static_cast<size_t>(batch) * kChunk);
    std::vector<char> out(kChunk);
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i)
            std::memcpy(stage.data() + static_cast<size_t>(i) * kChunk, in.data(), kChunk);
        for (int i = 0; i < batch; ++i)
            std::memcpy(out.data(), stage.data() + static_cast<size_t>(i) * kChunk, kChunk);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * batch * kChunk);
}

// Times the filling and the draining of a buffer that spills; the phase
// chosen by the argument is the benchmark's time.
void FifoSpill(benchmark::State& state) {
    const bool drain = state.range(0) != 0;
    const std::vector<char> in = Chunk();
    std::vector<char> out(kChunk);
    for (auto _ : state) {
        TKvFifoBuffer fifo(kSpillCapacity);
        auto start = BenchStats::Clock::now();
        for (int64_t done = 0; done < kSpillBytes; done += kChunk)
            fifo.Append(in.data(), kChunk);
        const double filling = BenchStats::SecondsSince(start);
        start = BenchStats::Clock::now();
        while (fifo.Extract(out.data(), kChunk) > 0) {
        }
        state.SetIterationTime(drain ? BenchStats::SecondsSince(start) : filling);
    }
    state.SetBytesProcessed(state.iterations() * kSpillBytes);
}

void FileWriteRead(benchmark::State& state) {
    const bool read = state.range(0) != 0;
    const std::vector<char> in = Chunk();
    std::vector<char> out(kChunk);
    for (auto _ : state) {
        QTemporaryFile file;
        file.open();
        const int fd = file.handle();
        auto start = BenchStats::Clock::now();
        for (int64_t done = 0; done < kSpillBytes; done += kChunk)
            benchmark::DoNotOptimize(::write(fd, in.data(), kChunk));
        const double writing = BenchStats::SecondsSince(start);
        ::lseek(fd, 0, SEEK_SET);
        start = BenchStats::Clock::now();
        while (::read(fd, out.data(), kChunk) > 0) {
        }
        state.SetIterationTime(read ? BenchStats::SecondsSince(start) : writing);
    }
    state.SetBytesProcessed(state.iterations() * kSpillBytes);
}

} // namespace

BENCHMARK(FifoMemory)->Name("FifoMemory/TKvFifoBuffer")->Arg(1)->Arg(16);
BENCHMARK(MemcpyOnce)->Name("FifoMemory/memcpy")->Arg(1)->Arg(16);
BENCHMARK(MemcpyInAndOut)->Name("FifoMemory/memcpy-in-and-out")->Arg(1)->Arg(16);
BENCHMARK(FifoSpill)
    ->Name("FifoSpill/TKvFifoBuffer")
    ->ArgName("drain")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(FileWriteRead)
    ->Name("FifoSpill/file")
    ->ArgName("read")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
