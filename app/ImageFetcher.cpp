#include "app/ImageFetcher.h"

#include "app/InOutError.h"
#include "net/ScopeExit.h"
#include "platform/Kernel.h"
#include "platform/UrlService.h"
#include "toolkit/runtime/SysUtils.h"
#include "toolkit/runtime/TAtomicFileStream.h"

#include <cassert>
#include <cstdint>
#include <optional>

namespace {

constexpr uint32_t kTransferBufferSize = 4024;

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

} // namespace

void TImageFetcher::Fetch(const std::string& url, const std::string& fileName) {
    assert(!Fetching() && "a second picture fetch started inside the first");
    // File failures are told by the runtime's I/O codes for their errno:
    // creating or renaming keeps it on the error, writing or flushing on the
    // stream. The file is made first, so that a target that cannot be
    // written costs no transfer.
    std::optional<TAtomicFileStream> output;
    try {
        output.emplace(fileName);
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
        output->Commit();
    } catch (const EFCreateError& e) {
        throw InOutErrorFromErrno(e.SystemError);
    } catch (const EWriteError&) {
        throw InOutErrorFromErrno(output->LastError());
    }
}

void TImageFetcher::Transfer(const std::string& url, InternetHandle* file,
                             TAtomicFileStream& output) {
    const uint32_t status = HttpStatusCode(file);
    if (!IsSuccessStatus(status))
        throw EDownloadError(url, "HTTP status " + std::to_string(status), 0, status);
    const int64_t announced = HttpContentLength(file);
    int64_t received = 0;
    if (OnProgress)
        OnProgress(received, announced);
    char buffer[kTransferBufferSize];
    uint32_t count = 0;
    do {
        if (!InternetReadFile(file, buffer, kTransferBufferSize, &count))
            throw ServiceFailure(url, status);
        output.WriteBuffer(buffer, static_cast<int32_t>(count));
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
