#pragma once

#include <QStringList>

#include <benchmark/benchmark.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What the HTTP benchmarks share: curl as the peer, and the rounds.

// Runs curl (no proxy, errors shown) with the arguments and returns the
// numbers its -w format wrote, one per URL; throws std::runtime_error when
// curl fails.
std::vector<double> CurlFigures(const QStringList& arguments);

// The small page both page-fetch benchmarks serve: HTML of exactly `size`
// bytes (at least 64).
std::string BenchPage(size_t size);

// The page fetch: count fetches in a row, each timed; fetch(i) makes the
// i-th and returns how many bytes arrived, which must be `size`. The
// counter median_us is the median time of one fetch.
void TimedFetches(benchmark::State& state, int count, size_t size,
                  const std::function<size_t(int)>& fetch);

// The body throughput: get() fetches `size` bytes once per iteration and
// returns how many arrived; only it is timed, not before(), which runs ahead
// of each (it may be empty).
void TimedBodies(benchmark::State& state, size_t size, const std::function<void()>& before,
                 const std::function<size_t()>& get);

// curl fetching every URL in one process (with the arguments before them),
// reporting each transfer's time; the counter median_us as above.
void CurlFetchTimes(benchmark::State& state, QStringList arguments,
                    const std::vector<std::string>& urls);

// curl fetching one URL of `size` bytes to /dev/null (the arguments end
// with it), its own speed figure as the iteration's time.
void CurlThroughput(benchmark::State& state, const QStringList& arguments, size_t size);

// The smallest over the rounds, beside the median that every benchmark
// reports: how fast it goes when the shared machine leaves it alone.
double Smallest(const std::vector<double>& values);

// Five rounds each, one iteration per round; the tables take the median
// round and the best one ("min", of the times and of the counters).
void Rounds(benchmark::internal::Benchmark* b);
