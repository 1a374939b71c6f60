// The HTTP component against curl, both fetching from one local nginx.
//
// PageFetch: 1,000 sequential Gets of a 20 KB page; the counter median_us is
// the median time of one request. curl fetches the same 1,000 URLs in one
// process and reports each transfer's time itself (-w '%{time_total}'); it
// is run twice, as it comes (HTTP/1.1, one kept-alive connection) and with
// --http1.0 (a fresh connection per request, as the component works).
//
// PageFetch/TKvHTTP also counts, over 200 more Gets that are not timed, what
// each costs the thread (per request): loop_sleeps, the turns of its event
// loop that may sleep; wake_ups, writes to an event dispatcher's wake-up
// descriptor (a posted message; the notifications a turn finds are
// delivered in that turn, so none), as glib makes them (Qt's own dispatcher
// writes from inside libc, which is not counted); epoll_waits and epoll_changes, the calls
// on the socket poller's set (a socket joins it once and leaves with its
// close, no call); peeks, one-byte looks that tell data from the end of a
// stream (data the kernel has just reported needs none).
//
// PageFetch/plain-c: the same 1,000 requests by a plain blocking C loop
// that opens a fresh connection per request (bench/PlainFetch.c), the floor
// of any client that works as the component does.
//
// PageFetch/interleaved: the two above taking turns in blocks of 50 requests
// within each round; counters ours_us, plain_us and their ratio, and each
// side's processor time per request of the benchmark's thread, in user space
// and in the kernel (ours_user_us, ours_sys_us, plain_user_us, plain_sys_us).
//
// BodyThroughput: a Get of a 100 MB file into Body against curl -o /dev/null
// of the same URL; bytes_per_second, with curl's own speed figure as its time.
//
// EventLoopGap: the same Get while a 5 ms timer runs on the thread; the
// counter longest_gap_ms is the longest time between two ticks (or between
// the start or end of the Get and the nearest tick): how long the window's
// event loop stood still.
#include "bench/BenchNginx.h"
#include "bench/BenchPeers.h"
#include "bench/BenchStats.h"
#include "bench/PlainFetch.h"
#include "net/KvHttp.h"
#include "tests/support/LoopGapMeter.h"

#include <QAbstractEventDispatcher>
#include <QProcess>
#include <QThread>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// The system calls counted on the benchmark's thread while counting is on,
// by standing in for the libc functions (the libraries call them through
// the dynamic linker).
struct CallCounts {
    std::atomic<bool> On { false };
    std::thread::id Thread;
    std::atomic<long> WakeUps { 0 };
    std::atomic<long> EpollWaits { 0 };
    std::atomic<long> EpollChanges { 0 };
    std::atomic<long> Peeks { 0 };
};
CallCounts g_calls;

bool Counting() {
    return g_calls.On.load(std::memory_order_relaxed) &&
           std::this_thread::get_id() == g_calls.Thread;
}

bool IsEventDescriptor(int descriptor) {
    char link[64] = {};
    const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t length = ::readlink(path.c_str(), link, sizeof link - 1);
    return length > 0 && std::strcmp(link, "anon_inode:[eventfd]") == 0;
}

template <typename Function> Function Next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" ssize_t write(int descriptor, const void* data, size_t size) {
    static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
    if (g_calls.On.load(std::memory_order_relaxed) && IsEventDescriptor(descriptor))
        ++g_calls.WakeUps;
    return next(descriptor, data, size);
}

extern "C" int epoll_wait(int epoll, struct epoll_event* events, int count, int timeout) {
    static const auto next = Next<int (*)(int, struct epoll_event*, int, int)>("epoll_wait");
    if (Counting())
        ++g_calls.EpollWaits;
    return next(epoll, events, count, timeout);
}

extern "C" int epoll_ctl(int epoll, int operation, int descriptor, struct epoll_event* event) {
    static const auto next = Next<int (*)(int, int, int, struct epoll_event*)>("epoll_ctl");
    if (Counting())
        ++g_calls.EpollChanges;
    return next(epoll, operation, descriptor, event);
}

extern "C" ssize_t recv(int descriptor, void* data, size_t size, int flags) {
    static const auto next = Next<ssize_t (*)(int, void*, size_t, int)>("recv");
    if ((flags & MSG_PEEK) && Counting())
        ++g_calls.Peeks;
    return next(descriptor, data, size, flags);
}

namespace {

constexpr int kPages = 1000;
constexpr size_t kPageSize = 20 * 1024;
constexpr size_t kLargeSize = 100 * 1000 * 1000;

// One nginx with the page and the large file for the whole program.
BenchNginx& Site() {
    static std::unique_ptr<BenchNginx> site;
    if (!site) {
        site = std::make_unique<BenchNginx>();
        site->WriteFile("page.htm", BenchPage(kPageSize));
        site->WriteFile("large.bin", std::string(kLargeSize, 'w'));
    }
    return *site;
}

std::string PagePath(int i) {
    return "/page.htm?n=" + std::to_string(i);
}

std::string PageUrl(int i) {
    return Site().Url(PagePath(i));
}

void PageFetchTKvHTTP(benchmark::State& state) {
    Site();
    TKvHTTP http;
    http.TimeOut = 30000;
    TimedFetches(state, kPages, kPageSize, [&http](int i) {
        http.Get(PageUrl(i));
        return http.Body.size();
    });

    constexpr int kCounted = 200;
    long loopSleeps = 0;
    const QMetaObject::Connection counting =
        QObject::connect(QThread::currentThread()->eventDispatcher(),
                         &QAbstractEventDispatcher::aboutToBlock, [&loopSleeps] { ++loopSleeps; });
    g_calls.Thread = std::this_thread::get_id();
    g_calls.On = true;
    for (int i = 0; i < kCounted; ++i)
        http.Get(PageUrl(i));
    g_calls.On = false;
    QObject::disconnect(counting);
    auto perRequest = [](long count) { return static_cast<double>(count) / kCounted; };
    state.counters["loop_sleeps"] = perRequest(loopSleeps);
    state.counters["wake_ups"] = perRequest(g_calls.WakeUps.exchange(0));
    state.counters["epoll_waits"] = perRequest(g_calls.EpollWaits.exchange(0));
    state.counters["epoll_changes"] = perRequest(g_calls.EpollChanges.exchange(0));
    state.counters["peeks"] = perRequest(g_calls.Peeks.exchange(0));
}

// One request of the plain C loop, timed; the page must arrive whole.
double TimedPlainFetch(benchmark::State& state, int i, std::vector<char>& response) {
    const std::string path = PagePath(i);
    const auto start = BenchStats::Clock::now();
    const long got = PlainFetch(Site().Port(), path.c_str(), response.data(), response.size());
    const double seconds = BenchStats::SecondsSince(start);
    if (got < static_cast<long>(kPageSize))
        state.SkipWithError("the plain loop got the page cut");
    return seconds;
}

void PageFetchPlainC(benchmark::State& state) {
    Site();
    std::vector<char> response(2 * kPageSize);
    std::vector<double> seconds;
    for (auto _ : state) {
        seconds.clear();
        for (int i = 0; i < kPages; ++i)
            seconds.push_back(TimedPlainFetch(state, i, response));
    }
    state.counters["median_us"] = BenchStats::Median(seconds) * 1e6;
}

// The component and the plain C loop take turns in blocks of 50 requests
// over the same 1,000 URLs. This machine is shared: a slow spell of a second
// or so moved one of the separate cases above by up to a tenth, and taking
// turns lets it fall on both sides alike. Counters: each side's median
// request and their ratio.
void PageFetchInterleaved(benchmark::State& state) {
    constexpr int kBlock = 50;
    Site();
    TKvHTTP http;
    http.TimeOut = 30000;
    std::vector<char> response(2 * kPageSize);
    std::vector<double> ours;
    std::vector<double> plain;
    // Each side's processor time, user and kernel, over all rounds.
    BenchStats::ThreadTimes oursTimes;
    BenchStats::ThreadTimes plainTimes;
    auto addTimes = [](BenchStats::ThreadTimes& sum, const BenchStats::ThreadTimes& before) {
        const BenchStats::ThreadTimes now = BenchStats::ThreadTimesNow();
        sum.User += now.User - before.User;
        sum.System += now.System - before.System;
    };
    for (auto _ : state) {
        ours.clear();
        plain.clear();
        for (int first = 0; first < kPages; first += kBlock) {
            BenchStats::ThreadTimes before = BenchStats::ThreadTimesNow();
            for (int i = first; i < first + kBlock; ++i) {
                const std::string url = PageUrl(i);
                const auto start = BenchStats::Clock::now();
                http.Get(url);
                ours.push_back(BenchStats::SecondsSince(start));
                if (http.Body.size() != kPageSize)
                    state.SkipWithError("the page arrived cut");
            }
            addTimes(oursTimes, before);
            before = BenchStats::ThreadTimesNow();
            for (int i = first; i < first + kBlock; ++i)
                plain.push_back(TimedPlainFetch(state, i, response));
            addTimes(plainTimes, before);
        }
    }
    const double requests = static_cast<double>(state.iterations()) * kPages / 1e6;
    state.counters["ours_user_us"] = oursTimes.User / requests;
    state.counters["ours_sys_us"] = oursTimes.System / requests;
    state.counters["plain_user_us"] = plainTimes.User / requests;
    state.counters["plain_sys_us"] = plainTimes.System / requests;
    const double oursMedian = BenchStats::Median(ours) * 1e6;
    const double plainMedian = BenchStats::Median(plain) * 1e6;
    state.counters["ours_us"] = oursMedian;
    state.counters["plain_us"] = plainMedian;
    state.counters["ratio"] = plainMedian > 0 ? oursMedian / plainMedian : 0;
}

void PageFetchCurl(benchmark::State& state, bool http10) {
    Site();
    QStringList arguments;
    if (http10)
        arguments << "--http1.0";
    std::vector<std::string> urls;
    for (int i = 0; i < kPages; ++i)
        urls.push_back(PageUrl(i));
    CurlFetchTimes(state, arguments, urls);
}

// With kept 0 Body's memory is given back after every Get (swapped with an
// empty string), so each Get grows it from nothing, as a first Get does;
// with 1 Body keeps its memory from the Get before, as later ones do.
void BodyThroughputTKvHTTP(benchmark::State& state) {
    const bool kept = state.range(0) != 0;
    const std::string url = Site().Url("/large.bin");
    TKvHTTP http;
    http.TimeOut = 30000;
    if (kept)
        http.Get(url);
    TimedBodies(
        state, kLargeSize,
        [&] {
            if (!kept)
                std::string().swap(http.Body);
        },
        [&] {
            http.Get(url);
            return http.Body.size();
        });
}

void EventLoopGap(benchmark::State& state) {
    const std::string url = Site().Url("/large.bin");
    TKvHTTP http;
    http.TimeOut = 30000;
    http.Get(url);
    LoopGapMeter meter;
    std::chrono::milliseconds longest {};
    for (auto _ : state) {
        meter.Restart();
        http.Get(url);
        longest = std::max(longest, meter.Longest());
        if (http.Body.size() != kLargeSize)
            state.SkipWithError("the file arrived cut");
    }
    state.counters["longest_gap_ms"] = static_cast<double>(longest.count());
}

void BodyThroughputCurl(benchmark::State& state) {
    CurlThroughput(state, { QString::fromStdString(Site().Url("/large.bin")) }, kLargeSize);
}

} // namespace

BENCHMARK(PageFetchTKvHTTP)->Name("PageFetch/TKvHTTP")->Apply(Rounds);
BENCHMARK(PageFetchPlainC)->Name("PageFetch/plain-c")->Apply(Rounds);
BENCHMARK(PageFetchInterleaved)->Name("PageFetch/interleaved")->Apply(Rounds);
BENCHMARK_CAPTURE(PageFetchCurl, keepalive, false)->Name("PageFetch/curl")->Apply(Rounds);
BENCHMARK_CAPTURE(PageFetchCurl, http10, true)->Name("PageFetch/curl-http1.0")->Apply(Rounds);
BENCHMARK(BodyThroughputTKvHTTP)
    ->Name("BodyThroughput/TKvHTTP")
    ->ArgName("kept")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Apply(Rounds);
BENCHMARK(BodyThroughputCurl)->Name("BodyThroughput/curl")->UseManualTime()->Apply(Rounds);
BENCHMARK(EventLoopGap)->Name("EventLoopGap/TKvHTTP")->Apply(Rounds);
