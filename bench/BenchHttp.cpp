// The HTTP component against curl, both fetching from one local nginx.
//
// PageFetch: 1,000 sequential Gets of a 20 KB page; the counter median_us is
// the median time of one request. curl fetches the same 1,000 URLs in one
// process and reports each transfer's time itself (-w '%{time_total}'); it
// is run twice, as it comes (HTTP/1.1, one kept-alive connection) and with
// --http1.0 (a fresh connection per request, as the component works).
//
// BodyThroughput: a Get of a 100 MB file into Body against curl -o /dev/null
// of the same URL; bytes_per_second, with curl's own speed figure as its time.
#include "bench/BenchNginx.h"
#include "bench/BenchStats.h"
#include "net/KvHttp.h"

#include <QProcess>
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>
#include <stdexcept>

namespace {

constexpr int kPages = 1000;
constexpr size_t kPageSize = 20 * 1024;
constexpr size_t kLargeSize = 100 * 1000 * 1000;

// One nginx with the page and the large file for the whole program.
BenchNginx& Site() {
    static std::unique_ptr<BenchNginx> site;
    if (!site) {
        site = std::make_unique<BenchNginx>();
        std::string page = "<html><body>\r\n";
        while (page.size() < kPageSize - 20)
            page += "<p>wallpaper page line</p>\r\n";
        page.resize(kPageSize - 16, ' ');
        site->WriteFile("page.htm", page + "</body></html>\r\n");
        site->WriteFile("large.bin", std::string(kLargeSize, 'w'));
    }
    return *site;
}

std::string PageUrl(int i) {
    return Site().Url("/page.htm?n=" + std::to_string(i));
}

// Runs curl with the arguments; returns what -w wrote, one line per URL.
std::vector<double> CurlFigures(const QStringList& arguments) {
    QProcess curl;
    curl.start("curl", QStringList { "--silent", "--show-error", "--noproxy", "*" } + arguments);
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
        throw std::runtime_error("curl failed: " + curl.readAllStandardError().toStdString());
    std::vector<double> figures;
    std::istringstream lines(curl.readAllStandardOutput().toStdString());
    for (double value = 0; lines >> value;)
        figures.push_back(value);
    return figures;
}

void PageFetchTKvHTTP(benchmark::State& state) {
    Site();
    TKvHTTP http;
    http.TimeOut = 30000;
    std::vector<double> seconds;
    for (auto _ : state) {
        seconds.clear();
        for (int i = 0; i < kPages; ++i) {
            const auto start = BenchStats::Clock::now();
            http.Get(PageUrl(i));
            seconds.push_back(BenchStats::SecondsSince(start));
            if (http.Body.size() != kPageSize)
                state.SkipWithError("the page arrived cut");
        }
    }
    state.counters["median_us"] = BenchStats::Median(seconds) * 1e6;
}

void PageFetchCurl(benchmark::State& state, bool http10) {
    Site();
    QStringList arguments;
    if (http10)
        arguments << "--http1.0";
    for (int i = 0; i < kPages; ++i)
        arguments << "-o"
                  << "/dev/null"
                  << "-w"
                  << "%{time_total}\\n"
                  << QString::fromStdString(PageUrl(i));
    std::vector<double> seconds;
    for (auto _ : state)
        seconds = CurlFigures(arguments);
    if (seconds.size() != kPages)
        state.SkipWithError("curl reported fewer transfers than asked");
    state.counters["median_us"] = BenchStats::Median(seconds) * 1e6;
}

// With reused 0 every Get grows Body from nothing, as a first Get does;
// with 1 Body keeps its memory from the Get before, as later ones do.
void BodyThroughputTKvHTTP(benchmark::State& state) {
    const bool reused = state.range(0) != 0;
    const std::string url = Site().Url("/large.bin");
    TKvHTTP http;
    http.TimeOut = 30000;
    if (reused)
        http.Get(url);
    for (auto _ : state) {
        const auto start = BenchStats::Clock::now();
        http.Get(url);
        state.SetIterationTime(BenchStats::SecondsSince(start));
        if (http.Body.size() != kLargeSize)
            state.SkipWithError("the file arrived cut");
        if (!reused)
            http.Body = std::string();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLargeSize));
}

void BodyThroughputCurl(benchmark::State& state) {
    const QStringList arguments { "-o", "/dev/null", "-w", "%{speed_download}\\n",
                                  QString::fromStdString(Site().Url("/large.bin")) };
    for (auto _ : state) {
        const std::vector<double> speed = CurlFigures(arguments);
        if (speed.size() != 1 || speed[0] <= 0) {
            state.SkipWithError("curl reported no speed");
            break;
        }
        state.SetIterationTime(static_cast<double>(kLargeSize) / speed[0]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLargeSize));
}

} // namespace

// Three rounds each; the tables take the median round.
BENCHMARK(PageFetchTKvHTTP)
    ->Name("PageFetch/TKvHTTP")
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PageFetchCurl, keepalive, false)
    ->Name("PageFetch/curl")
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PageFetchCurl, http10, true)
    ->Name("PageFetch/curl-http1.0")
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BodyThroughputTKvHTTP)
    ->Name("BodyThroughput/TKvHTTP")
    ->ArgName("reused")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BodyThroughputCurl)
    ->Name("BodyThroughput/curl")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
