#include "app/ImageFetcher.h"

#include "app/InOutError.h"
#include "platform/Kernel.h"
#include "platform/UrlService.h"
#include "toolkit/runtime/SysUtils.h"
#include "toolkit/runtime/TAtomicFileStream.h"

#include <cstdint>
#include <optional>

namespace {

constexpr uint32_t kTransferBufferSize = 4024;

bool IsSuccessStatus(uint32_t status) {
    return status >= 200 && status <= 299;
}

} // namespace

void FetchImageFile(const std::string& url, const std::string& fileName) {
    const std::string agent = ExtractFileName(GetModuleFileName());
    // Declared root first, so the URL handle is closed before it.
    TInternetHandle root(
        InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!root)
        throw EDownloadError(url, InternetLastErrorText());
    TInternetHandle file(InternetOpenUrlA(root.get(), url.c_str(), nullptr, 0, 0, 0));
    if (!file)
        throw EDownloadError(url, InternetLastErrorText());
    const uint32_t status = HttpStatusCode(file.get());
    if (!IsSuccessStatus(status))
        throw EDownloadError(url, "HTTP status " + std::to_string(status));

    // File failures are told by the runtime's I/O codes for their errno:
    // creating or renaming keeps it on the error, writing or flushing on the
    // stream.
    std::optional<TAtomicFileStream> output;
    try {
        output.emplace(fileName);
        char buffer[kTransferBufferSize];
        uint32_t count = 0;
        do {
            if (!InternetReadFile(file.get(), buffer, kTransferBufferSize, &count))
                throw EDownloadError(url, InternetLastErrorText());
            output->WriteBuffer(buffer, static_cast<int32_t>(count));
        } while (count != 0);
        output->Commit();
    } catch (const EFCreateError& e) {
        throw InOutErrorFromErrno(e.SystemError);
    } catch (const EWriteError&) {
        throw InOutErrorFromErrno(output->LastError());
    }
}
