// Picture downloads through the image fetcher, on the program's event loop.
//
// PictureThrottled: a 50 MB picture that nginx sends at 1 MB/s, fetched
// while a 5 ms timer ticks on the same thread; the counter gap_ms is the
// longest time between two ticks, i.e. the longest stretch in which the
// window could not have repainted or reacted to a click, and
// transfer_gap_ms the same up to the last byte received (without making the
// file durable and renaming it at the end). LoopIdle/10s is the control: the
// same timer on an idle loop for ten seconds, which shows how long this
// machine alone keeps a ready thread waiting.
//
// PictureFullSpeed: the same picture at full loopback speed into a file,
// against curl -o of the same URL into a file of the same directory; curl's
// time is its own %{time_total}. Our time includes making the file durable
// (the fetcher flushes it to disk before renaming it into place), which
// curl does not do.
#include "app/ImageFetcher.h"
#include "bench/BenchNginx.h"
#include "bench/BenchStats.h"
#include "tests/support/LoopGapMeter.h"

#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <stdexcept>

namespace {

constexpr size_t kPictureSize = 50 * 1000 * 1000;

BenchNginx& Site() {
    static std::unique_ptr<BenchNginx> site;
    if (!site) {
        site = std::make_unique<BenchNginx>("        location /slow/ { limit_rate 1m; }\n");
        std::filesystem::create_directories(site->Directory() + "html/slow");
        std::string picture(kPictureSize, '\0');
        for (size_t i = 0; i < picture.size(); ++i)
            picture[i] = static_cast<char>((i * 7919) >> 7);
        site->WriteFile("fast.jpg", picture);
        site->WriteFile("slow/slow.jpg", picture);
    }
    return *site;
}

// The picture directory: beside the build, not the system's /tmp (TMPDIR
// is set by bench/run-all).
QTemporaryDir& Pictures() {
    static QTemporaryDir directory;
    return directory;
}

// A fresh name each round: the program never fetches over a picture that is
// there, and replacing one would add freeing its pages to the time.
std::string Target(const char* name) {
    const std::string path = Pictures().filePath(name).toStdString();
    std::filesystem::remove(path);
    return path;
}

void CheckSize(benchmark::State& state, const std::string& file) {
    std::error_code error;
    if (std::filesystem::file_size(file, error) != kPictureSize)
        state.SkipWithError("the picture arrived cut");
}

void PictureThrottled(benchmark::State& state) {
    const std::string url = Site().Url("/slow/slow.jpg");
    for (auto _ : state) {
        LoopGapMeter meter;
        std::chrono::milliseconds transferGap {};
        TImageFetcher fetcher;
        fetcher.OnProgress = [&](int64_t received, int64_t announced) {
            if (received == announced)
                transferGap = meter.Longest();
        };
        const std::string target = Target("slow.jpg");
        meter.Restart();
        const auto start = BenchStats::Clock::now();
        fetcher.Fetch(url, target);
        state.SetIterationTime(BenchStats::SecondsSince(start));
        state.counters["gap_ms"] = static_cast<double>(meter.Longest().count());
        state.counters["transfer_gap_ms"] = static_cast<double>(transferGap.count());
        CheckSize(state, target);
    }
}

void LoopIdle(benchmark::State& state) {
    for (auto _ : state) {
        LoopGapMeter meter;
        QEventLoop loop;
        QTimer::singleShot(std::chrono::seconds(10), &loop, &QEventLoop::quit);
        loop.exec();
        state.SetIterationTime(10);
        state.counters["gap_ms"] = static_cast<double>(meter.Longest().count());
    }
}

void PictureFullSpeedFetcher(benchmark::State& state) {
    const std::string url = Site().Url("/fast.jpg");
    for (auto _ : state) {
        const std::string target = Target("fast.jpg");
        const auto start = BenchStats::Clock::now();
        FetchImageFile(url, target);
        state.SetIterationTime(BenchStats::SecondsSince(start));
        CheckSize(state, target);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPictureSize));
}

void PictureFullSpeedCurl(benchmark::State& state) {
    const std::string target = Target("curl.jpg");
    const QStringList arguments { "--silent",
                                  "--show-error",
                                  "--noproxy",
                                  "*",
                                  "-o",
                                  QString::fromStdString(target),
                                  "-w",
                                  "%{time_total}",
                                  QString::fromStdString(Site().Url("/fast.jpg")) };
    for (auto _ : state) {
        std::filesystem::remove(target);
        QProcess curl;
        curl.start("curl", arguments);
        if (!curl.waitForFinished(600000) || curl.exitCode() != 0) {
            state.SkipWithError("curl failed");
            break;
        }
        state.SetIterationTime(curl.readAllStandardOutput().toDouble());
        CheckSize(state, target);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPictureSize));
}

} // namespace

// Rounds: three of the minute-long throttled fetch, five of the others; the
// tables take the median round and give the minimum beside it.
BENCHMARK(PictureThrottled)
    ->Name("PictureThrottled/FetchImageFile")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(LoopIdle)
    ->Name("LoopIdle/10s")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PictureFullSpeedFetcher)
    ->Name("PictureFullSpeed/FetchImageFile")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PictureFullSpeedCurl)
    ->Name("PictureFullSpeed/curl")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(false)
    ->Unit(benchmark::kMillisecond);
