// The HTTP component over TLS against curl, both fetching from one local
// nginx that serves HTTPS with a certificate of a test CA (both trust it).
//
// PageFetchTls: 200 sequential Gets of a 20 KB page, each over a fresh
// connection with a full handshake; median_us is the median time of one
// request. curl fetches the same 200 URLs in one process with --http1.0 (a
// connection per request) and reports each transfer's time; once as it
// comes, which resumes its TLS session on every connection after the first
// (an abbreviated handshake), and once with --no-sessionid, a full
// handshake each time as the component does.
//
// BodyThroughputTls: a Get of a 100 MB file into Body against curl
// -o /dev/null of the same URL; bytes_per_second, with curl's own speed
// figure as its time.
#include "bench/BenchNginx.h"
#include "bench/BenchPeers.h"
#include "bench/BenchStats.h"
#include "net/KvHttp.h"
#include "tests/support/TestCertificates.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int kPages = 200;
constexpr size_t kPageSize = 20 * 1024;
constexpr size_t kLargeSize = 100 * 1000 * 1000;

struct TlsSite {
    TestCertificates certificates;
    uint16_t tlsPort { LocalServerProcess::FreePort() };
    // The plain listener only tells the fixture that nginx is up.
    BenchNginx nginx { "        listen 127.0.0.1:" + std::to_string(tlsPort) +
                       " ssl;\n        ssl_certificate " + certificates.Good().certificate +
                       ";\n        ssl_certificate_key " + certificates.Good().key + ";\n" };

    std::string Url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(tlsPort) + path;
    }
};

TlsSite& Site() {
    static std::unique_ptr<TlsSite> site;
    if (!site) {
        site = std::make_unique<TlsSite>();
        site->nginx.WriteFile("page.htm", BenchPage(kPageSize));
        site->nginx.WriteFile("large.bin", std::string(kLargeSize, 'w'));
    }
    return *site;
}

std::string PageUrl(int i) {
    return Site().Url("/page.htm?n=" + std::to_string(i));
}

QStringList CurlTls() {
    return { "--cacert", QString::fromStdString(Site().certificates.CaFile()) };
}

void PageFetchTKvHTTP(benchmark::State& state) {
    TKvHTTP http;
    http.TimeOut = 30000;
    http.TlsCaFile = Site().certificates.CaFile();
    TimedFetches(state, kPages, kPageSize, [&http](int i) {
        http.Get(PageUrl(i));
        return http.Body.size();
    });
}

void PageFetchCurl(benchmark::State& state, bool resume) {
    QStringList arguments = CurlTls() << "--http1.0";
    if (!resume)
        arguments << "--no-sessionid";
    std::vector<std::string> urls;
    for (int i = 0; i < kPages; ++i)
        urls.push_back(PageUrl(i));
    CurlFetchTimes(state, arguments, urls);
}

void BodyThroughputTKvHTTP(benchmark::State& state) {
    const std::string url = Site().Url("/large.bin");
    TKvHTTP http;
    http.TimeOut = 30000;
    http.TlsCaFile = Site().certificates.CaFile();
    http.Get(url);
    TimedBodies(state, kLargeSize, {}, [&] {
        http.Get(url);
        return http.Body.size();
    });
}

void BodyThroughputCurl(benchmark::State& state) {
    CurlThroughput(state, CurlTls() << QString::fromStdString(Site().Url("/large.bin")),
                   kLargeSize);
}

} // namespace

BENCHMARK(PageFetchTKvHTTP)->Name("PageFetchTls/TKvHTTP")->Apply(Rounds);
BENCHMARK_CAPTURE(PageFetchCurl, resumed, true)->Name("PageFetchTls/curl-http1.0")->Apply(Rounds);
BENCHMARK_CAPTURE(PageFetchCurl, full, false)
    ->Name("PageFetchTls/curl-http1.0-no-sessionid")
    ->Apply(Rounds);
BENCHMARK(BodyThroughputTKvHTTP)->Name("BodyThroughputTls/TKvHTTP")->UseManualTime()->Apply(Rounds);
BENCHMARK(BodyThroughputCurl)->Name("BodyThroughputTls/curl")->UseManualTime()->Apply(Rounds);
