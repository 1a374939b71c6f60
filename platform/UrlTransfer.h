#pragma once

#include "platform/CurlMulti.h"
#include "platform/Events.h"
#include "platform/InternetHandle.h"
#include "platform/LowSpeedWindow.h"
#include "platform/UrlFailure.h"

#include <curl/curl.h>

#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A URL handle: one GET on the thread's shared multi handle
// (CurlMultiOfThread), whose body is buffered between libcurl's write
// callback and the reader. Open and Read wait with the thread's one
// dispatching wait until their condition holds; the transfer advances
// meanwhile through the multi handle's notifiers and timer, which that wait
// dispatches. Other transfers of the thread (an outer wait's, one left
// unread) advance in the same dispatch, each into its own buffer and waking
// its own event, so a wait returns for its own transfer only.
//
// A transfer ends for one of three reasons: libcurl finishes it (Finished),
// it breaks one of the root's limits (the low-speed timer, the size checks in
// the header and write callbacks), or InternetCancelRequest cancels it. The
// last two record their failure and wake the wait. The easy handle is taken
// off the multi handle as soon as that is allowed: at once for a cancel or
// the low-speed timer, which run outside libcurl's callbacks, otherwise
// right after the wait. Taking a finished transfer off returns its
// connection to the multi handle's cache for the next transfer.
class UrlTransfer final : public InternetHandle {
public:
    explicit UrlTransfer(const RootHandle& root);
    ~UrlTransfer() override;
    UrlTransfer(const UrlTransfer&) = delete;
    UrlTransfer& operator=(const UrlTransfer&) = delete;

    // Starts the request and waits for the final response's body to begin
    // or the transfer to end. The failure when it failed.
    std::optional<UrlFailure> Open(const RootHandle& root, const char* url, const char* headers,
                                   uint32_t headersLength);
    // As InternetReadFile; the failure when the transfer broke.
    std::optional<UrlFailure> Read(void* buffer, uint32_t toRead, uint32_t* read);
    // Ends the transfer at once; safe inside a wait, also this handle's own.
    // Other transfers of the thread go on.
    void Cancel();

    uint32_t StatusCode() const;
    int64_t ContentLength() const;
    int64_t RetryAfter() const;
    size_t PeakBuffered() const { return m_peakBuffered; }

private:
    struct EasyCleanup {
        void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
    };
    struct ListCleanup {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };

    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static int OnRequest(void* self, char*, char*, int, int);
    void Configure(const RootHandle& root, const char* url, const char* headers,
                   uint32_t headersLength);
    // Ends the transfer with the failure unless one was recorded before (a
    // transfer that completed fails too: what it buffered is dropped); wakes
    // the wait.
    void Fail(uint32_t code);
    void Finished(CURLcode result);
    // Dispatches the thread's events until `ready` holds; afterwards takes an
    // ended transfer off the multi handle.
    void WaitUntil(const std::function<bool()>& ready);
    // Takes the easy handle off the multi handle once; not from inside
    // libcurl's callbacks.
    void Detach();
    // Sets and resets the wait's event.
    void Wake();
    void Rest();
    bool TooLarge(uint64_t bodyBytes) const;
    void CheckSpeed();
    void ArmSpeedTimer();
    void Resume();
    size_t Buffered() const { return m_buffer.size() - m_bufferStart; }

    std::shared_ptr<TransferGroup> m_group;
    InternetLimits m_limits;
    // Buffered bytes and the end of the transfer signal it; the wait sleeps
    // on it while it dispatches events.
    EventObject m_wake;
    bool m_woken { false };
    QTimer m_speedTimer;
    LowSpeedWindow m_speed;
    bool m_inWait { false };
    // Set by the write callback when the buffer is full; cleared (and the
    // transfer resumed) when the reader has taken every buffered byte.
    bool m_paused { false };
    bool m_done { false };
    // Where the latest request's response stands, for what libcurl's
    // failures mean; and the bytes of every head so far, which are bounded.
    enum class THead : uint8_t { NotSent, Awaited, Open, Ended };
    THead m_head { THead::NotSent };
    size_t m_headBytes { 0 };
    std::optional<UrlFailure> m_failure;
    uint64_t m_bodyBytes { 0 };
    // Body bytes received but not yet read: m_buffer[m_bufferStart..].
    std::vector<char> m_buffer;
    size_t m_bufferStart { 0 };
    size_t m_peakBuffered { 0 };
    // The thread's multi handle, from Open on; shared so that it outlives
    // the easy handle, which the destructor takes off it first.
    std::shared_ptr<CurlMulti> m_multi;
    bool m_added { false };
    std::unique_ptr<curl_slist, ListCleanup> m_headers;
    std::unique_ptr<CURL, EasyCleanup> m_easy;
};
