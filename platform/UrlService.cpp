#include "platform/UrlService.h"

#include "platform/InternetHandle.h"
#include "platform/UrlFailure.h"
#include "platform/UrlTransfer.h"

#include <curl/curl.h>

#include <mutex>

namespace {

thread_local UrlFailure t_lastFailure;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

template <typename Result> Result Failed(UrlFailure failure, Result result) {
    t_lastFailure = std::move(failure);
    return result;
}

} // namespace

HINTERNET InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                        const char* proxyBypass, uint32_t /*flags*/) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY)
        return Failed(UrlFailure::Of(ERROR_INVALID_PARAMETER), HINTERNET { nullptr });
    InitCurlOnce();
    auto root = std::make_unique<RootHandle>();
    root->Agent = agent ? agent : "";
    root->AccessType = accessType;
    root->Proxy = proxy ? proxy : "";
    root->ProxyBypass = proxyBypass ? proxyBypass : "";
    return root.release();
}

bool InternetSetLimits(HINTERNET root, const InternetLimits& limits) {
    auto* rootHandle = dynamic_cast<RootHandle*>(root);
    if (!rootHandle)
        return Failed(UrlFailure::Of(ERROR_INTERNET_INCORRECT_HANDLE_TYPE), false);
    rootHandle->Limits = limits;
    return true;
}

// The flags (reload, cache bypass) have nothing to act on: the service keeps
// no cache, so every open goes to the server.
HINTERNET InternetOpenUrlA(HINTERNET root, const char* url, const char* headers,
                           uint32_t headersLength, uint32_t /*flags*/, uintptr_t /*context*/) {
    const auto* rootHandle = dynamic_cast<const RootHandle*>(root);
    if (!rootHandle || !url)
        return Failed(UrlFailure::Of(ERROR_INTERNET_INCORRECT_HANDLE_TYPE), HINTERNET { nullptr });
    auto handle = std::make_unique<UrlTransfer>(*rootHandle);
    if (auto failure = handle->Open(*rootHandle, url, headers, headersLength))
        return Failed(std::move(*failure), HINTERNET { nullptr });
    return handle.release();
}

bool InternetReadFile(HINTERNET file, void* buffer, uint32_t toRead, uint32_t* read) {
    auto* handle = dynamic_cast<UrlTransfer*>(file);
    if (!handle || !read) {
        if (read)
            *read = 0;
        return Failed(UrlFailure::Of(ERROR_INTERNET_INCORRECT_HANDLE_TYPE), false);
    }
    if (auto failure = handle->Read(buffer, toRead, read))
        return Failed(std::move(*failure), false);
    return true;
}

bool InternetCancelRequest(HINTERNET handle) {
    if (auto* transfer = dynamic_cast<UrlTransfer*>(handle)) {
        transfer->Cancel();
        return true;
    }
    auto* root = dynamic_cast<RootHandle*>(handle);
    if (!root)
        return Failed(UrlFailure::Of(ERROR_INTERNET_INCORRECT_HANDLE_TYPE), false);
    root->Group->Cancelled = true;
    for (UrlTransfer* transfer : root->Group->Alive)
        transfer->Cancel();
    return true;
}

bool InternetCloseHandle(HINTERNET handle) {
    if (!handle)
        return false;
    delete handle;
    return true;
}

uint32_t HttpStatusCode(HINTERNET file) {
    const auto* handle = dynamic_cast<const UrlTransfer*>(file);
    return handle ? handle->StatusCode() : 0;
}

int64_t HttpContentLength(HINTERNET file) {
    const auto* handle = dynamic_cast<const UrlTransfer*>(file);
    return handle ? handle->ContentLength() : -1;
}

int64_t HttpRetryAfter(HINTERNET file) {
    const auto* handle = dynamic_cast<const UrlTransfer*>(file);
    return handle ? handle->RetryAfter() : -1;
}

uint32_t InternetLastError() {
    return t_lastFailure.Code;
}

std::string InternetLastErrorText() {
    return t_lastFailure.Text;
}

size_t InternetPeakBufferedBytes(HINTERNET file) {
    const auto* handle = dynamic_cast<const UrlTransfer*>(file);
    return handle ? handle->PeakBuffered() : 0;
}
