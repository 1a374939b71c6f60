#pragma once

#include <string>

// The peer of the whole-run benchmarks: the download run's work as a plain
// parallel downloader does it with libcurl. For each number from first to
// last it fetches the page the program fetches, takes the picture address
// from the page's `<img class="wallpaper" src="...">` line and fetches that
// picture into directory/N.jpg (written as it arrives, as `curl -o` does).
// Up to `workers` numbers are in flight in one multi handle, each worker
// handle keeping its connection for its next transfer and the multi handle
// keeping the others (one worker: one number after another, on one kept
// connection). A page with an error status or without the line is skipped,
// as the program skips it.
//
// Returns how many pictures were saved; throws std::runtime_error when a
// transfer fails or a picture comes with an error status.
int CurlWallpapers(const std::string& site, int first, int last, const std::string& directory,
                   int workers);

// The same work as a shell loop of curl commands does it, one number after
// another: a curl process for each page (its output read for the picture
// line) and one for each picture (`curl -o`), so every fetch pays a process
// start and a new connection. Returns and throws as above.
// With `workers` above 1, that many such loops share the numbers (worker k
// takes every number n with n % workers == k), as `xargs -P` would run them.
int CurlCommandWallpapers(const std::string& site, int first, int last,
                          const std::string& directory, int workers = 1);
