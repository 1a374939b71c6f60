#pragma once

#include "toolkit/runtime/Exception.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct InternetHandle;
class TAtomicFileStream;

// `Cannot download "%s": %s`: the URL, then why (the URL service's words,
// "Picture too large", or "HTTP status 404"). The fields say the same for a
// caller that decides what to do about it (retry, give up, stay quiet).
class EDownloadError : public Exception {
public:
    EDownloadError(const std::string& url, const std::string& reason, uint32_t serviceError,
                   uint32_t httpStatus, int64_t retryAfter = -1)
        : Exception("Cannot download \"" + url + "\": " + reason), Url(url),
          ServiceError(serviceError), HttpStatus(httpStatus), RetryAfter(retryAfter) {}

    std::string Url;
    // The URL service's code (the ERROR_ list of platform/UrlService.h: a
    // time-out, a refused connection, a broken transfer, ERROR_FILE_TOO_LARGE
    // for a picture over the bound, ERROR_INTERNET_OPERATION_CANCELLED for
    // Abort); 0 when the server answered with a status outside 2xx.
    uint32_t ServiceError;
    // That status; 0 when the failure came before any status.
    uint32_t HttpStatus;
    // With a status, the seconds its Retry-After asked to wait; else -1.
    int64_t RetryAfter;
};

// The longest picture address Fetch sends, in bytes. A page that names a
// longer one is broken or hostile: no server takes such a request line.
inline constexpr size_t MaxPictureAddress = 65536;

// "Picture address too long": a picture address over MaxPictureAddress,
// refused before the file is made or any request is sent. A class of its own,
// not an EDownloadError: nothing was downloaded, and trying it again would
// refuse it again.
class EPictureAddressTooLong : public Exception {
public:
    EPictureAddressTooLong() : Exception("Picture address too long") {}
};

// Copies the body of a URL into a file through the URL service, reading it
// in chunks of 4024 bytes and writing it in batches of 128 KiB, so memory
// stays bounded whatever the picture's size. The URL and the name are used unchanged.
// The agent name is the program file's name.
//
// The address is checked first (EPictureAddressTooLong), then the target: a
// file that cannot be made there (a missing or read-only folder, a
// directory of that name) raises EInOutError with the
// codes of InOutError.h ("File access denied", "Invalid filename") before
// any request is sent; a name that leads to no regular file (a device, a
// FIFO, a link to a missing file) raises ENotRegularFile naming it, also
// before any request. The file appears only after a complete transfer with
// a success status: it is written beside the target and renamed over it at
// the end. When the URL cannot be opened, the final response has no 2xx
// status, the transfer breaks or breaks a bound, or Abort is called, this
// raises EDownloadError and leaves the target as it was (no file when there
// was none, no temporary file).
//
// Fetch returns when the file is complete, but it does not hold the window
// meanwhile: while it waits for the network, the thread's events are
// dispatched (see platform/UrlService.h). A handler that runs then may call
// Abort; it must not start another Fetch of the same fetcher.
class TImageFetcher {
public:
    // Bounds of one fetch, each ending it with EDownloadError: connecting
    // may take ConnectTimeOut ms; fewer than LowSpeedLimit bytes in any
    // LowSpeedTime ms give "Timed out"; a picture announced or growing
    // beyond MaxPictureSize bytes gives "Picture too large".
    uint32_t ConnectTimeOut { 30000 };
    uint32_t LowSpeedLimit { 1024 };
    uint32_t LowSpeedTime { 30000 };
    uint64_t MaxPictureSize { uint64_t { 64 } * 1024 * 1024 };

    // Called once the response has begun (with 0) and after every chunk
    // written: the body bytes received so far and the size the server
    // announced, or -1 when it announced none. Runs on the fetching thread
    // between reads; it may call Abort.
    std::function<void(int64_t received, int64_t announced)> OnProgress;

    void Fetch(const std::string& url, const std::string& fileName);
    // Fetch in two steps: the complete picture, flushed to disk beside the
    // target but not yet in its place (nothing named exists until then; the
    // file goes when the stream does), and then putting it in place, with
    // the same errors as Fetch. The stream may be put in place on another
    // thread than the one that downloaded it.
    std::unique_ptr<TAtomicFileStream> Download(const std::string& url,
                                                const std::string& fileName);
    // Without `sync`, the name is not flushed to disk (TAtomicFileStream::
    // CommitWithoutSync): the caller syncs the folder later.
    static void PutInPlace(TAtomicFileStream& output, bool sync = true);
    // Ends the fetch in progress, if any, at once: Fetch raises
    // EDownloadError with ServiceError ERROR_INTERNET_OPERATION_CANCELLED.
    void Abort();
    bool Fetching() const { return m_root != nullptr; }

private:
    void Transfer(const std::string& url, InternetHandle* file, TAtomicFileStream& output);

    // The root handle of the fetch in progress, for Abort; owned by Fetch.
    InternetHandle* m_root { nullptr };
};

// One fetch with the default bounds, no progress and no way to abort it.
void FetchImageFile(const std::string& url, const std::string& fileName);
