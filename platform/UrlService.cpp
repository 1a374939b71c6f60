#include "platform/UrlService.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

struct InternetHandle {
    virtual ~InternetHandle() = default;
};

namespace {

thread_local std::string t_lastError;

// Once the reader has this many bytes waiting, the transfer pauses until
// the reader has taken them. libcurl hands over at most one receive chunk
// (16 KiB) per call, so the buffer never holds much more than this.
constexpr size_t kPauseThreshold = size_t { 64 } * 1024;

// A stalled server ends the transfer after this long without a byte.
constexpr long kStallSeconds = 60;
constexpr long kConnectSeconds = 60;
constexpr int kPollMilliseconds = 1000;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct RootHandle final : InternetHandle {
    std::string agent;
    uint32_t accessType { INTERNET_OPEN_TYPE_PRECONFIG };
    std::string proxy;
    std::string proxyBypass;
};

class UrlHandle final : public InternetHandle {
public:
    UrlHandle() : m_easy(curl_easy_init()), m_multi(curl_multi_init()) {}
    ~UrlHandle() override;

    // Starts the request and waits for the final response's body to begin
    // or the transfer to end. False (with t_lastError set) when it failed.
    bool Open(const RootHandle& root, const char* url, const char* headers, uint32_t headersLength);
    bool Read(void* buffer, uint32_t toRead, uint32_t* read);

    uint32_t StatusCode() const;
    size_t PeakBuffered() const { return m_peakBuffered; }

private:
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    size_t Buffered() const { return m_buffer.size() - m_bufferStart; }
    // One step of the transfer: lets libcurl work, then waits up to a
    // second for socket activity if nothing arrived.
    void Pump();
    void Resume();
    std::string FailureText() const;

    CURL* m_easy { nullptr };
    CURLM* m_multi { nullptr };
    curl_slist* m_headers { nullptr };
    bool m_added { false };
    bool m_paused { false };
    bool m_done { false };
    CURLcode m_result { CURLE_OK };
    // Body bytes received but not yet read: m_buffer[m_bufferStart..].
    std::vector<char> m_buffer;
    size_t m_bufferStart { 0 };
    size_t m_peakBuffered { 0 };
    char m_errorText[CURL_ERROR_SIZE] {};
};

UrlHandle::~UrlHandle() {
    if (m_added)
        curl_multi_remove_handle(m_multi, m_easy);
    if (m_easy)
        curl_easy_cleanup(m_easy);
    if (m_multi)
        curl_multi_cleanup(m_multi);
    curl_slist_free_all(m_headers);
}

// Extra request headers as the Internet functions take them: lines separated
// by CR LF, with a length or -1 (all ones) for a NUL-terminated text.
curl_slist* ParseHeaders(const char* headers, uint32_t length) {
    if (!headers)
        return nullptr;
    const std::string text =
        length == UINT32_MAX ? std::string(headers) : std::string(headers, length);
    curl_slist* list = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            list = curl_slist_append(list, text.substr(start, end - start).c_str());
        start = end + 1;
    }
    return list;
}

bool UrlHandle::Open(const RootHandle& root, const char* url, const char* headers,
                     uint32_t headersLength) {
    if (!m_easy || !m_multi) {
        t_lastError = "Out of memory";
        return false;
    }
    curl_easy_setopt(m_easy, CURLOPT_URL, url);
    curl_easy_setopt(m_easy, CURLOPT_USERAGENT, root.agent.c_str());
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(m_easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &UrlHandle::OnBody);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    if (root.accessType == INTERNET_OPEN_TYPE_DIRECT) {
        curl_easy_setopt(m_easy, CURLOPT_PROXY, "");
    } else if (root.accessType == INTERNET_OPEN_TYPE_PROXY) {
        curl_easy_setopt(m_easy, CURLOPT_PROXY, root.proxy.c_str());
        curl_easy_setopt(m_easy, CURLOPT_NOPROXY, root.proxyBypass.c_str());
    }
    m_headers = ParseHeaders(headers, headersLength);
    if (m_headers)
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);

    if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
        t_lastError = "Cannot start the transfer";
        return false;
    }
    m_added = true;
    // libcurl hands no body of a redirect to the write callback, so the
    // first body byte belongs to the final response.
    while (!m_done && Buffered() == 0)
        Pump();
    if (m_done && m_result != CURLE_OK) {
        t_lastError = FailureText();
        return false;
    }
    return true;
}

size_t UrlHandle::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* handle = static_cast<UrlHandle*>(self);
    const size_t length = size * count;
    if (handle->Buffered() >= kPauseThreshold) {
        handle->m_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (handle->m_bufferStart > 0) {
        handle->m_buffer.erase(handle->m_buffer.begin(),
                               handle->m_buffer.begin() +
                                   static_cast<std::ptrdiff_t>(handle->m_bufferStart));
        handle->m_bufferStart = 0;
    }
    handle->m_buffer.insert(handle->m_buffer.end(), data, data + length);
    handle->m_peakBuffered = std::max(handle->m_peakBuffered, handle->Buffered());
    return length;
}

void UrlHandle::Pump() {
    int running = 0;
    if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
        m_done = true;
        m_result = CURLE_OUT_OF_MEMORY;
        return;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg == CURLMSG_DONE) {
            m_done = true;
            m_result = message->data.result;
        }
    }
    if (!m_done && Buffered() == 0 && !m_paused)
        curl_multi_poll(m_multi, nullptr, 0, kPollMilliseconds, nullptr);
}

void UrlHandle::Resume() {
    m_paused = false;
    // Hands the held-back chunk to OnBody before returning.
    curl_easy_pause(m_easy, CURLPAUSE_CONT);
}

bool UrlHandle::Read(void* buffer, uint32_t toRead, uint32_t* read) {
    *read = 0;
    while (Buffered() == 0 && !m_done) {
        if (m_paused)
            Resume();
        if (Buffered() == 0 && !m_done)
            Pump();
    }
    if (Buffered() > 0) {
        const size_t count = std::min<size_t>(toRead, Buffered());
        std::memcpy(buffer, m_buffer.data() + m_bufferStart, count);
        m_bufferStart += count;
        *read = static_cast<uint32_t>(count);
        return true;
    }
    if (m_result != CURLE_OK) {
        t_lastError = FailureText();
        return false;
    }
    return true;
}

uint32_t UrlHandle::StatusCode() const {
    long code = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &code);
    return static_cast<uint32_t>(code);
}

std::string UrlHandle::FailureText() const {
    return m_errorText[0] ? std::string(m_errorText) : std::string(curl_easy_strerror(m_result));
}

} // namespace

HINTERNET InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                        const char* proxyBypass, uint32_t /*flags*/) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY) {
        t_lastError = "Unknown access type";
        return nullptr;
    }
    InitCurlOnce();
    auto root = std::make_unique<RootHandle>();
    root->agent = agent ? agent : "";
    root->accessType = accessType;
    root->proxy = proxy ? proxy : "";
    root->proxyBypass = proxyBypass ? proxyBypass : "";
    return root.release();
}

// The flags (reload, cache bypass) have nothing to act on: the service keeps
// no cache, so every open goes to the server.
HINTERNET InternetOpenUrlA(HINTERNET root, const char* url, const char* headers,
                           uint32_t headersLength, uint32_t /*flags*/, uintptr_t /*context*/) {
    const auto* rootHandle = dynamic_cast<const RootHandle*>(root);
    if (!rootHandle || !url) {
        t_lastError = "Invalid handle";
        return nullptr;
    }
    auto handle = std::make_unique<UrlHandle>();
    if (!handle->Open(*rootHandle, url, headers, headersLength))
        return nullptr;
    return handle.release();
}

bool InternetReadFile(HINTERNET file, void* buffer, uint32_t toRead, uint32_t* read) {
    auto* handle = dynamic_cast<UrlHandle*>(file);
    if (!handle || !read) {
        if (read)
            *read = 0;
        t_lastError = "Invalid handle";
        return false;
    }
    return handle->Read(buffer, toRead, read);
}

bool InternetCloseHandle(HINTERNET handle) {
    if (!handle)
        return false;
    delete handle;
    return true;
}

uint32_t HttpStatusCode(HINTERNET file) {
    const auto* handle = dynamic_cast<const UrlHandle*>(file);
    return handle ? handle->StatusCode() : 0;
}

std::string InternetLastErrorText() {
    return t_lastError;
}

size_t InternetPeakBufferedBytes(HINTERNET file) {
    const auto* handle = dynamic_cast<const UrlHandle*>(file);
    return handle ? handle->PeakBuffered() : 0;
}
