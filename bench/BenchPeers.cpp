#include "bench/BenchPeers.h"

#include "bench/BenchStats.h"

#include <QProcess>

#include <algorithm>
#include <sstream>
#include <stdexcept>

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

std::string BenchPage(size_t size) {
    std::string page = "<html><body>\r\n";
    while (page.size() < size - 20)
        page += "<p>wallpaper page line</p>\r\n";
    page.resize(size - 16, ' ');
    return page + "</body></html>\r\n";
}

void TimedFetches(benchmark::State& state, int count, size_t size,
                  const std::function<size_t(int)>& fetch) {
    std::vector<double> seconds;
    for (auto _ : state) {
        seconds.clear();
        for (int i = 0; i < count; ++i) {
            const auto start = BenchStats::Clock::now();
            const size_t got = fetch(i);
            seconds.push_back(BenchStats::SecondsSince(start));
            if (got != size)
                state.SkipWithError("the page arrived cut");
        }
    }
    state.counters["median_us"] = BenchStats::Median(seconds) * 1e6;
}

void TimedBodies(benchmark::State& state, size_t size, const std::function<void()>& before,
                 const std::function<size_t()>& get) {
    for (auto _ : state) {
        if (before)
            before();
        const auto start = BenchStats::Clock::now();
        const size_t got = get();
        state.SetIterationTime(BenchStats::SecondsSince(start));
        if (got != size)
            state.SkipWithError("the file arrived cut");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void CurlFetchTimes(benchmark::State& state, QStringList arguments,
                    const std::vector<std::string>& urls) {
    for (const std::string& url : urls)
        arguments << "-o"
                  << "/dev/null"
                  << "-w"
                  << "%{time_total}\\n"
                  << QString::fromStdString(url);
    std::vector<double> seconds;
    for (auto _ : state)
        seconds = CurlFigures(arguments);
    if (seconds.size() != urls.size())
        state.SkipWithError("curl reported fewer transfers than asked");
    state.counters["median_us"] = BenchStats::Median(seconds) * 1e6;
}

void CurlThroughput(benchmark::State& state, const QStringList& arguments, size_t size) {
    const QStringList all =
        QStringList { "-o", "/dev/null", "-w", "%{speed_download}\\n" } + arguments;
    for (auto _ : state) {
        const std::vector<double> speed = CurlFigures(all);
        if (speed.size() != 1 || speed[0] <= 0) {
            state.SkipWithError("curl reported no speed");
            break;
        }
        state.SetIterationTime(static_cast<double>(size) / speed[0]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

double Smallest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

void Rounds(benchmark::internal::Benchmark* b) {
    b->Iterations(1)
        ->Repetitions(5)
        ->ComputeStatistics("min", Smallest)
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMillisecond);
}
