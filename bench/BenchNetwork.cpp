// The whole download run over a network with a round trip, against a peer.
//
// The demo site for the numbers 200 to 260 (generate-demo-site, as `make
// run` serves it) is served by a local nginx behind a DelayProxy and is
// generated for the proxy's address, so that the pages and the pictures they
// name both pass through it: each request and its response pay the round
// trip, and each new connection one more.
//
// NetworkRun/rtt_ms:R: in each of kRounds rounds five runs take turns, each
// fetching every page and picture anew into an empty directory: ours with
// Parallel 6 (the program's default), curl with 8 workers in one multi
// handle (CurlWallpapers), ours with Parallel 1, curl one number after
// another in the same way, and a loop of curl commands, one number after
// another (CurlCommandWallpapers, in every other round only). Counters, the
// medians of the rounds:
//   ours6_ms, curl8_ms, ours1_ms, curl1_ms, commands_ms: time per number;
//   ..._cpu_ms: the processor time per number of the whole process (all its
//     threads) without the proxy's thread, and of the curl commands; nginx
//     is another process;
//   ..._conns: connections the proxy accepted, per number;
//   fresh_ms, reused_ms: one page fetched by libcurl on a new connection
//     and again on the same one, before the rounds: the round trips the
//     proxy really adds (2 R and R are expected; an error if far off).
// The iteration's time is ours with Parallel 6.
#include "app/Unit1.h"
#include "bench/BenchNginx.h"
#include "bench/BenchStats.h"
#include "bench/CurlWallpapers.h"
#include "bench/DelayProxy.h"
#include "tests/support/RunWindows.h"
#include "toolkit/widgets/TSpinEdit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

constexpr int kFirst = 200;
constexpr int kLast = 260;
constexpr int kNumbers = kLast - kFirst + 1;
constexpr int kRounds = 5;
constexpr int kCurlWorkers = 8;

// nginx, the proxy in front of it, and the site generated for the proxy.
struct TDistantSite {
    BenchNginx Nginx;
    DelayProxy Proxy { Nginx.Port() };
    // The pictures the pages name.
    int Pictures { 0 };
};

int PagesNamingPictures(const std::string& root) {
    int count = 0;
    QDirIterator pages(QString::fromStdString(root + "wallpapers"), QDir::Files,
                       QDirIterator::Subdirectories);
    while (pages.hasNext()) {
        QFile page(pages.next());
        if (page.open(QIODevice::ReadOnly) && page.readAll().contains("<img class=\"wallpaper\""))
            ++count;
    }
    return count;
}

TDistantSite& Site() {
    static std::unique_ptr<TDistantSite> site;
    if (!site) {
        // The site is on loopback: no proxy of the environment may come
        // between, for the program or for curl.
        qputenv("no_proxy", "*");
        site = std::make_unique<TDistantSite>();
        const std::string root = site->Nginx.Directory() + "html/";
        QProcess generator;
        generator.start(GENERATE_DEMO_SITE,
                        { QString::fromStdString(root), "--base",
                          QString::fromStdString(site->Proxy.Url()), "--first",
                          QString::number(kFirst), "--last", QString::number(kLast) });
        if (!generator.waitForFinished(600000) || generator.exitCode() != 0)
            throw std::runtime_error("generate-demo-site failed: " +
                                     generator.readAllStandardError().toStdString());
        site->Pictures = PagesNamingPictures(root);
    }
    return *site;
}

// The processor time of the whole process so far, in seconds, with that of
// the child processes it has waited for (the curl commands; nginx runs on).
double ProcessSeconds() {
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    double total = 0;
    for (const int who : { RUSAGE_SELF, RUSAGE_CHILDREN }) {
        rusage usage {};
        getrusage(who, &usage);
        total += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
    return total;
}

// The program's windows (see RunWindows) over the distant site, shown.
class TRunWindow : public RunWindows {
public:
    TRunWindow(const std::string& pictureDirectory, int parallel) {
        Open(pictureDirectory);
        Form1->SiteAddress = Site().Proxy.Url();
        Form1->Parallel = parallel;
        Form1->show();
        m_application->ProcessMessages();
    }

    void Download(int from, int to) {
        Form1->SpinEdit1->SetText(QString::number(from));
        Form1->SpinEdit2->SetText(QString::number(to));
        Form1->Button2->click();
    }
};

// One run's figures, per number.
struct TRunFigures {
    double Ms { 0 };
    double CpuMs { 0 };
    double Connections { 0 };
};

// Counts what a run takes from its making on: time, processor time (the
// proxy's thread left out) and connections through the proxy.
class TMeter {
public:
    TMeter()
        : m_connections(Site().Proxy.Connections()), m_processor(ProcessorSeconds()),
          m_start(BenchStats::Clock::now()) {}

    TRunFigures Figures() const {
        TRunFigures figures;
        figures.Ms = BenchStats::SecondsSince(m_start) * 1e3 / kNumbers;
        figures.CpuMs = (ProcessorSeconds() - m_processor) * 1e3 / kNumbers;
        figures.Connections =
            static_cast<double>(Site().Proxy.Connections() - m_connections) / kNumbers;
        return figures;
    }

private:
    static double ProcessorSeconds() { return ProcessSeconds() - Site().Proxy.ThreadSeconds(); }

    uint64_t m_connections;
    double m_processor;
    BenchStats::Clock::time_point m_start;
};

// Throws std::runtime_error unless the run saved every picture the pages
// name, and the proxy is still well.
void CheckPictures(const std::string& who, const QTemporaryDir& pictures) {
    const int files = static_cast<int>(QDir(pictures.path()).entryList(QDir::Files).size());
    if (files != Site().Pictures)
        throw std::runtime_error(who + " saved " + std::to_string(files) + " pictures, not " +
                                 std::to_string(Site().Pictures));
    if (!Site().Proxy.Failure().empty())
        throw std::runtime_error("the delay proxy failed: " + Site().Proxy.Failure());
}

// The whole run is the click: the windows are made before it, untimed.
TRunFigures Ours(int parallel) {
    QTemporaryDir pictures;
    TRunWindow window(pictures.path().toStdString(), parallel);
    const TMeter meter;
    window.Download(kFirst, kLast);
    const TRunFigures figures = meter.Figures();
    if (!window.Errors().empty())
        throw std::runtime_error("the run failed: " + window.Errors().front());
    CheckPictures("ours with Parallel " + std::to_string(parallel), pictures);
    return figures;
}

TRunFigures CurlCommands(int workers) {
    QTemporaryDir pictures;
    const TMeter meter;
    CurlCommandWallpapers(Site().Proxy.Url(), kFirst, kLast, pictures.path().toStdString(),
                          workers);
    const TRunFigures figures = meter.Figures();
    CheckPictures("the curl command loop", pictures);
    return figures;
}

TRunFigures Curl(int workers) {
    QTemporaryDir pictures;
    const TMeter meter;
    CurlWallpapers(Site().Proxy.Url(), kFirst, kLast, pictures.path().toStdString(), workers);
    const TRunFigures figures = meter.Figures();
    CheckPictures("curl with " + std::to_string(workers) + " workers", pictures);
    return figures;
}

struct TCurlEasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

// One page on a new connection and then on the same one, in milliseconds:
// the quickest of three tries each, as a busy machine only adds.
std::pair<double, double> PageTwice() {
    const std::string url = Site().Proxy.Url() + "/wallpapers/get/id/" + std::to_string(kFirst) +
                            "/resolution/1024x768";
    double fresh = 1e9;
    double reused = 1e9;
    for (int i = 0; i < 3; ++i) {
        const std::unique_ptr<CURL, TCurlEasyCleanup> easy(curl_easy_init());
        curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
        curl_easy_setopt(
            easy.get(), CURLOPT_WRITEFUNCTION,
            +[](char*, size_t size, size_t count, void*) { return size * count; });
        for (double* best : { &fresh, &reused }) {
            const auto start = BenchStats::Clock::now();
            const CURLcode result = curl_easy_perform(easy.get());
            *best = std::min(*best, BenchStats::SecondsSince(start) * 1e3);
            if (result != CURLE_OK)
                throw std::runtime_error(std::string("page through the proxy: ") +
                                         curl_easy_strerror(result));
        }
    }
    return { fresh, reused };
}

void NetworkRun(benchmark::State& state) {
    const int roundTrip = static_cast<int>(state.range(0));
    for (auto _ : state) {
        try {
            Site().Proxy.SetRoundTrip(std::chrono::milliseconds(0));
            // Once, untimed, so that what a process does first (libraries,
            // fonts, caches) weighs on no round.
            static bool warmed = false;
            if (!warmed) {
                Ours(6);
                Curl(kCurlWorkers);
                warmed = true;
            }
            Site().Proxy.SetRoundTrip(std::chrono::milliseconds(roundTrip));

            const auto [fresh, reused] = PageTwice();
            // A proxy that delays too little, or far too much, would make
            // every figure below wrong; loopback, the client and a busy
            // machine add a little.
            if (fresh < 2 * roundTrip || reused < roundTrip || fresh > 2.5 * roundTrip + 20 ||
                reused > 1.5 * roundTrip + 20)
                throw std::runtime_error("the proxy's round trip is off: a page took " +
                                         std::to_string(fresh) + " ms on a new connection, " +
                                         std::to_string(reused) + " ms on a kept one");
            state.counters["fresh_ms"] = fresh;
            state.counters["reused_ms"] = reused;

            std::map<std::string, std::vector<double>> figures;
            auto keep = [&figures](const std::string& name, const TRunFigures& run) {
                figures[name + "_ms"].push_back(run.Ms);
                figures[name + "_cpu_ms"].push_back(run.CpuMs);
                figures[name + "_conns"].push_back(run.Connections);
            };
            for (int round = 0; round < kRounds; ++round) {
                keep("ours6", Ours(6));
                keep("curl8", Curl(kCurlWorkers));
                keep("ours1", Ours(1));
                keep("curl1", Curl(1));
                // The slowest by far; three rounds of it keep the whole
                // benchmark within minutes.
                if (round % 2 == 0)
                    keep("commands", CurlCommands(1));
                keep("commands8", CurlCommands(kCurlWorkers));
            }
            for (const auto& [name, values] : figures)
                state.counters[name] = BenchStats::Median(values);
            state.counters["rounds"] = kRounds;
            state.SetIterationTime(BenchStats::Median(figures["ours6_ms"]) * kNumbers / 1e3);
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
        }
    }
}

} // namespace

BENCHMARK(NetworkRun)
    ->ArgName("rtt_ms")
    ->Arg(0)
    ->Arg(20)
    ->Arg(50)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
