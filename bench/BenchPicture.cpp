// Picture downloads through the image fetcher, on the program's event loop.
//
// PictureThrottled: a 50 MB picture that nginx sends at 1 MB/s, fetched
// while a 5 ms timer ticks on the same thread; the counter gap_ms is the
// longest time between two ticks, i.e. the longest stretch in which the
// window could not have repainted or reacted to a click.
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

std::string Target(const char* name) {
    return Pictures().filePath(name).toStdString();
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
        const auto start = BenchStats::Clock::now();
        FetchImageFile(url, Target("slow.jpg"));
        state.SetIterationTime(BenchStats::SecondsSince(start));
        state.counters["gap_ms"] = static_cast<double>(meter.Longest().count());
        CheckSize(state, Target("slow.jpg"));
    }
}

void PictureFullSpeedFetcher(benchmark::State& state) {
    const std::string url = Site().Url("/fast.jpg");
    for (auto _ : state) {
        const auto start = BenchStats::Clock::now();
        FetchImageFile(url, Target("fast.jpg"));
        state.SetIterationTime(BenchStats::SecondsSince(start));
        CheckSize(state, Target("fast.jpg"));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPictureSize));
}

void PictureFullSpeedCurl(benchmark::State& state) {
    const QStringList arguments { "--silent",
                                  "--show-error",
                                  "--noproxy",
                                  "*",
                                  "-o",
                                  QString::fromStdString(Target("curl.jpg")),
                                  "-w",
                                  "%{time_total}",
                                  QString::fromStdString(Site().Url("/fast.jpg")) };
    for (auto _ : state) {
        QProcess curl;
        curl.start("curl", arguments);
        if (!curl.waitForFinished(600000) || curl.exitCode() != 0) {
            state.SkipWithError("curl failed");
            break;
        }
        state.SetIterationTime(curl.readAllStandardOutput().toDouble());
        CheckSize(state, Target("curl.jpg"));
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
