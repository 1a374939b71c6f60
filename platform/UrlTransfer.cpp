#include "platform/UrlTransfer.h"

#include "platform/CurlMultiOfThread.h"
#include "platform/ExtraCaFile.h"
#include "platform/Windows.h"

#include <QAbstractEventDispatcher>
#include <QScopedValueRollback>

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

// Once the reader has this many bytes waiting, the transfer pauses until
// the reader has taken them. libcurl hands over at most one receive chunk
// (kReceiveChunk) per call, so the buffer never holds much more than the two
// together. Each pause costs one turn of the event loop; 64 KiB chunks take
// a quarter of the receive calls and callbacks that libcurl's 16 KiB take.
constexpr size_t kPauseThreshold = size_t { 192 } * 1024;
constexpr long kReceiveChunk = 64L * 1024;
// The heads of a transfer (redirects and interim responses included) may
// take this many bytes; a server that sends header lines without end fails
// with its own error, before libcurl's larger bound breaks the connection.
constexpr size_t kMaxHeadBytes = size_t { 256 } * 1024;
// libcurl keeps the addresses it looked up in the multi handle, which the
// thread's transfers share: a picture host is looked up once a minute at
// most.
constexpr long kNameCacheSeconds = 60;

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

} // namespace

UrlTransfer::UrlTransfer(const RootHandle& root)
    : m_group(root.Group), m_limits(root.Limits),
      m_speed(root.Limits.LowSpeedBytes,
              std::chrono::milliseconds(root.Limits.LowSpeedMilliseconds)),
      m_easy(curl_easy_init()) {
    m_group->Alive.insert(this);
    m_speedTimer.setSingleShot(true);
    m_speedTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_speedTimer, &QTimer::timeout, [this] { CheckSpeed(); });
}

UrlTransfer::~UrlTransfer() {
    assert(!m_inWait && "a URL handle closed while one of its calls waits");
    m_group->Alive.erase(this);
    Detach();
}

void UrlTransfer::Configure(const RootHandle& root, const char* url, const char* headers,
                            uint32_t headersLength) {
    CURL* easy = m_easy.get();
    curl_easy_setopt(easy, CURLOPT_URL, url);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, root.Agent.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveChunk);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(m_limits.ConnectMilliseconds));
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // As the pages: nothing older than TLS 1.2, whatever the system allows.
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, kNameCacheSeconds);
    // The extra CA file replaces only the bundle file; the system's hashed
    // CA directory stays, so the system's CAs are still trusted.
    if (const std::string extraCa = ExtraCaFile(); !extraCa.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, extraCa.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &UrlTransfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &UrlTransfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &UrlTransfer::OnRequest);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    if (root.AccessType == INTERNET_OPEN_TYPE_DIRECT) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    } else if (root.AccessType == INTERNET_OPEN_TYPE_PROXY) {
        curl_easy_setopt(easy, CURLOPT_PROXY, root.Proxy.c_str());
        curl_easy_setopt(easy, CURLOPT_NOPROXY, root.ProxyBypass.c_str());
    }
    m_headers.reset(ParseHeaders(headers, headersLength));
    if (m_headers)
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_headers.get());
}

std::optional<UrlFailure> UrlTransfer::Open(const RootHandle& root, const char* url,
                                            const char* headers, uint32_t headersLength) {
    if (!m_easy)
        return UrlFailure::Of(ERROR_NOT_ENOUGH_MEMORY);
    if (m_group->Cancelled)
        return UrlFailure::Of(ERROR_INTERNET_OPERATION_CANCELLED);
    // The notifiers and timers that drive the transfer need one.
    if (!QAbstractEventDispatcher::instance())
        return UrlFailure::Of(ERROR_INTERNET_INTERNAL_ERROR);
    m_multi = CurlMultiOfThread();
    if (!m_multi)
        return UrlFailure::Of(ERROR_NOT_ENOUGH_MEMORY);
    Configure(root, url, headers, headersLength);
    if (!m_multi->Add(m_easy.get(), [this](CURLcode result) { Finished(result); }))
        return UrlFailure::Of(ERROR_NOT_ENOUGH_MEMORY);
    m_added = true;
    // libcurl hands no body of a redirect to the write callback, so the
    // first body byte belongs to the final response.
    WaitUntil([this] { return m_done || Buffered() > 0; });
    return m_failure;
}

std::optional<UrlFailure> UrlTransfer::Read(void* buffer, uint32_t toRead, uint32_t* read) {
    assert(!m_inWait && "a URL handle read from inside its own wait");
    *read = 0;
    if (m_inWait)
        return UrlFailure::Of(ERROR_INTERNET_INTERNAL_ERROR);
    if (Buffered() == 0 && m_paused && !m_done)
        Resume();
    WaitUntil([this] { return m_done || Buffered() > 0; });
    if (Buffered() > 0) {
        const size_t count = std::min<size_t>(toRead, Buffered());
        std::memcpy(buffer, m_buffer.data() + m_bufferStart, count);
        m_bufferStart += count;
        *read = static_cast<uint32_t>(count);
        return std::nullopt;
    }
    return m_failure;
}

void UrlTransfer::WaitUntil(const std::function<bool()>& ready) {
    {
        QScopedValueRollback<bool> waiting(m_inWait, true);
        const HANDLE wake = m_wake.Handle();
        while (!ready()) {
            const DWORD result = MsgWaitForMultipleObjects(1, &wake, false, INFINITE, QS_ALLINPUT);
            if (result == WAIT_OBJECT_0)
                Rest();
            else if (result == WAIT_OBJECT_0 + 1)
                DispatchPendingMessages();
            else
                Fail(ERROR_INTERNET_INTERNAL_ERROR);
        }
    }
    if (m_done) {
        m_speedTimer.stop();
        Detach();
    }
}

void UrlTransfer::Detach() {
    if (m_added) {
        m_added = false;
        m_multi->Remove(m_easy.get());
    }
}

// Setting an event that a wait sleeps on wakes the thread's dispatcher
// through a system call; once per wait is enough.
void UrlTransfer::Wake() {
    if (!m_woken) {
        m_woken = true;
        m_wake.Set();
    }
}

void UrlTransfer::Rest() {
    m_woken = false;
    m_wake.Reset();
}

// A cancel comes from a handler outside libcurl's callbacks, so the transfer
// leaves the multi handle at once instead of at the end of its next wait:
// a handle cancelled while none of its calls waits keeps no connection.
void UrlTransfer::Cancel() {
    Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    m_speedTimer.stop();
    Detach();
}

void UrlTransfer::Fail(uint32_t code) {
    if (m_failure)
        return;
    m_done = true;
    m_failure = UrlFailure::Of(code);
    m_buffer.clear();
    m_bufferStart = 0;
    Wake();
}

void UrlTransfer::Finished(CURLcode result) {
    if (m_done)
        return;
    m_done = true;
    // libcurl takes a connection closed before the empty line that ends a
    // head for the end of a response without a body; it is a response cut
    // short like any other.
    if (result == CURLE_OK && m_head == THead::Open)
        result = CURLE_PARTIAL_FILE;
    if (result != CURLE_OK) {
        long osErrno = 0;
        curl_easy_getinfo(m_easy.get(), CURLINFO_OS_ERRNO, &osErrno);
        const bool inHead = m_head == THead::Awaited || m_head == THead::Open;
        m_failure = UrlFailure::OfCurl(result, osErrno, inHead);
    }
    Wake();
}

bool UrlTransfer::TooLarge(uint64_t bodyBytes) const {
    return m_limits.MaxBodyBytes != 0 && bodyBytes > m_limits.MaxBodyBytes;
}

size_t UrlTransfer::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<UrlTransfer*>(self);
    const size_t length = size * count;
    transfer->m_speed.Arrived(length, LowSpeedWindow::Clock::now());
    transfer->m_headBytes += length;
    if (transfer->m_headBytes > kMaxHeadBytes) {
        transfer->Fail(ERROR_HTTP_INVALID_HEADER);
        return 0;
    }
    // The empty line ends a head. A final response that announces too long a
    // body is refused before a byte of it is taken.
    const bool headEnds = length <= 2 && (length == 0 || data[0] == '\r' || data[0] == '\n');
    transfer->m_head = headEnds ? THead::Ended : THead::Open;
    if (headEnds && transfer->ContentLength() > 0 &&
        transfer->TooLarge(static_cast<uint64_t>(transfer->ContentLength()))) {
        long status = 0;
        curl_easy_getinfo(transfer->m_easy.get(), CURLINFO_RESPONSE_CODE, &status);
        const bool final = status >= 200 && (status < 300 || status >= 400);
        if (final) {
            transfer->Fail(ERROR_FILE_TOO_LARGE);
            return 0;
        }
    }
    return length;
}

size_t UrlTransfer::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<UrlTransfer*>(self);
    const size_t length = size * count;
    if (transfer->m_done)
        return 0;
    if (transfer->Buffered() >= kPauseThreshold) {
        transfer->m_paused = true;
        transfer->m_speedTimer.stop();
        return CURL_WRITEFUNC_PAUSE;
    }
    transfer->m_speed.Arrived(length, LowSpeedWindow::Clock::now());
    transfer->m_bodyBytes += length;
    if (transfer->TooLarge(transfer->m_bodyBytes)) {
        transfer->Fail(ERROR_FILE_TOO_LARGE);
        return 0;
    }
    if (transfer->m_bufferStart > 0) {
        transfer->m_buffer.erase(transfer->m_buffer.begin(),
                                 transfer->m_buffer.begin() +
                                     static_cast<std::ptrdiff_t>(transfer->m_bufferStart));
        transfer->m_bufferStart = 0;
    }
    transfer->m_buffer.insert(transfer->m_buffer.end(), data, data + length);
    transfer->m_peakBuffered = std::max(transfer->m_peakBuffered, transfer->Buffered());
    transfer->Wake();
    return length;
}

// Called once a connection stands and the request is about to go: the
// low-speed bound counts from the first request on.
int UrlTransfer::OnRequest(void* self, char*, char*, int, int) {
    auto* transfer = static_cast<UrlTransfer*>(self);
    transfer->m_head = THead::Awaited;
    if (transfer->m_limits.LowSpeedBytes != 0 && !transfer->m_speed.Started()) {
        transfer->m_speed.Start(LowSpeedWindow::Clock::now());
        transfer->ArmSpeedTimer();
    }
    return CURL_PREREQFUNC_OK;
}

void UrlTransfer::ArmSpeedTimer() {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_speed.Deadline() -
                                                                   LowSpeedWindow::Clock::now());
    m_speedTimer.start(std::max<std::chrono::milliseconds>(left, std::chrono::milliseconds(0)));
}

// The timer runs to the deadline as it was when armed; arrivals since then
// have moved it on, so it is looked at afresh.
void UrlTransfer::CheckSpeed() {
    if (m_done || m_paused)
        return;
    if (LowSpeedWindow::Clock::now() >= m_speed.Deadline()) {
        Fail(ERROR_INTERNET_TIMEOUT);
        Detach();
    } else {
        ArmSpeedTimer();
    }
}

// While paused the transfer waited for its reader, not for the server, so
// the low-speed bound starts counting afresh.
void UrlTransfer::Resume() {
    m_paused = false;
    if (m_speed.Started()) {
        m_speed.Start(LowSpeedWindow::Clock::now());
        ArmSpeedTimer();
    }
    // May hand the held-back chunk to OnBody before returning.
    curl_easy_pause(m_easy.get(), CURLPAUSE_CONT);
}

uint32_t UrlTransfer::StatusCode() const {
    long code = 0;
    curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &code);
    return static_cast<uint32_t>(code);
}

// libcurl reads both forms of the header, seconds and a date, and gives 0
// when there is none.
int64_t UrlTransfer::RetryAfter() const {
    curl_off_t seconds = 0;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_RETRY_AFTER, &seconds) != CURLE_OK || seconds <= 0)
        return -1;
    return seconds;
}

int64_t UrlTransfer::ContentLength() const {
    curl_off_t length = -1;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
        return -1;
    return length;
}
