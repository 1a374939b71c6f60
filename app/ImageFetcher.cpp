#include "app/ImageFetcher.h"

#include "app/InOutError.h"
#include "platform/Kernel.h"
#include "platform/UrlService.h"
#include "toolkit/runtime/ScopeExit.h"
#include "toolkit/runtime/SysUtils.h"
#include "toolkit/runtime/TAtomicFileStream.h"

#include <fcntl.h>

#include <cassert>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kTransferBufferSize = 4024;
// The chunks are gathered into writes of this size: a system call per 4024
// bytes made the file, not the network, the slow end of a fast transfer.
constexpr size_t kWriteBatch = size_t { 128 } * 1024;
// Every so many bytes written, the disk is asked to start storing them, so
// that making the file durable at the end (which holds the window) has only
// the last few left to wait for.
constexpr int64_t kWritebackStep = int64_t { 4 } * 1024 * 1024;

bool IsSuccessStatus(uint32_t status) {
    return status >= 200 && status <= 299;
}

// The URL service's last failure, in the words the user sees.
EDownloadError ServiceFailure(const std::string& url, uint32_t httpStatus) {
    const uint32_t code = InternetLastError();
    const std::string reason =
        code == ERROR_FILE_TOO_LARGE ? std::string("Picture too large") : InternetLastErrorText();
    return EDownloadError(url, reason, code, httpStatus);
}

// File failures are told by the runtime's I/O codes for their errno:
// creating or renaming keeps it on the error, writing or flushing on the
// stream. A name that leads to no regular file keeps its own error, which
// names the file: no I/O code says what is wrong with it. Only inside a
// handler of the stream error.
[[noreturn]] void RaiseFileFailure(const TFileStream* stream) {
    try {
        throw;
    } catch (const ENotRegularFile&) {
        throw;
    } catch (const EFCreateError& e) {
        throw InOutErrorFromErrno(e.SystemError);
    } catch (const EWriteError&) {
        throw InOutErrorFromErrno(stream ? stream->LastError() : EIO);
    }
}

} // namespace

void TImageFetcher::Fetch(const std::string& url, const std::string& fileName) {
    const std::unique_ptr<TAtomicFileStream> output = Download(url, fileName);
    PutInPlace(*output);
}

std::unique_ptr<TAtomicFileStream> TImageFetcher::Download(const std::string& url,
                                                           const std::string& fileName) {
    if (url.size() > MaxPictureAddress)
        throw EPictureAddressTooLong();
    assert(!Fetching() && "a second picture fetch started inside the first");
    // The file is made first, so that a target that cannot be written costs
    // no transfer.
    std::unique_ptr<TAtomicFileStream> output;
    try {
        // A picture never follows a link out of its folder to make a file.
        output = std::make_unique<TAtomicFileStream>(fileName, TFileTarget::TDangling::Refuse);
        const std::string agent = ExtractFileName(GetModuleFileName());
        TInternetHandle root(
            InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!root)
            throw ServiceFailure(url, 0);
        InternetLimits limits;
        limits.ConnectMilliseconds = ConnectTimeOut;
        limits.LowSpeedBytes = LowSpeedLimit;
        limits.LowSpeedMilliseconds = LowSpeedTime;
        limits.MaxBodyBytes = MaxPictureSize;
        InternetSetLimits(root.get(), limits);
        m_root = root.get();
        ScopeExit done([this] { m_root = nullptr; });
        // Declared after the root, so that it is closed first.
        TInternetHandle file(InternetOpenUrlA(root.get(), url.c_str(), nullptr, 0, 0, 0));
        if (!file)
            throw ServiceFailure(url, 0);
        Transfer(url, file.get(), *output);
        // On disk now, so that putting it in place later is quick wherever
        // that happens.
        if (!output->Flush())
            throw EWriteError();
    } catch (const EStreamError&) {
        RaiseFileFailure(output.get());
    }
    return output;
}

void TImageFetcher::PutInPlace(TAtomicFileStream& output, bool sync) {
    try {
        if (sync)
            output.Commit();
        else
            output.CommitWithoutSync();
    } catch (const EStreamError&) {
        RaiseFileFailure(&output);
    }
}

void TImageFetcher::Transfer(const std::string& url, InternetHandle* file,
                             TAtomicFileStream& output) {
    const uint32_t status = HttpStatusCode(file);
    if (!IsSuccessStatus(status))
        throw EDownloadError(url, "HTTP status " + std::to_string(status), 0, status,
                             HttpRetryAfter(file));
    const int64_t announced = HttpContentLength(file);
    int64_t received = 0;
    int64_t written = 0;
    int64_t writtenBack = 0;
    if (OnProgress)
        OnProgress(received, announced);
    char buffer[kTransferBufferSize];
    std::vector<char> batch;
    batch.reserve(kWriteBatch);
    uint32_t count = 0;
    do {
        if (!InternetReadFile(file, buffer, kTransferBufferSize, &count))
            throw ServiceFailure(url, status);
        batch.insert(batch.end(), buffer, buffer + count);
        if (batch.size() + kTransferBufferSize > kWriteBatch || count == 0) {
            output.WriteBuffer(batch.data(), static_cast<int32_t>(batch.size()));
            written += static_cast<int64_t>(batch.size());
            batch.clear();
        }
        if (written - writtenBack >= kWritebackStep) {
            // Starts the writeback without waiting for it; a failure here
            // only leaves the work to the final flush.
            (void)::sync_file_range(output.Handle(), writtenBack, written - writtenBack,
                                    SYNC_FILE_RANGE_WRITE);
            writtenBack = written;
        }
        received += count;
        if (OnProgress && count != 0)
            OnProgress(received, announced);
    } while (count != 0);
}

void TImageFetcher::Abort() {
    if (m_root)
        InternetCancelRequest(m_root);
}

void FetchImageFile(const std::string& url, const std::string& fileName) {
    TImageFetcher().Fetch(url, fileName);
}
