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

// A URL handle: one GET on its own multi handle (CurlMulti), whose body is
// buffered between libcurl's write callback and the reader. Open and Read
// wait with the thread's one dispatching wait until their condition holds;
// the transfer advances meanwhile through the multi handle's notifiers and
// timer, which that wait dispatches.
//
// A transfer ends for one of three reasons: libcurl finishes it (OnDone), it
// breaks one of the root's limits (the low-speed timer, the size checks in
// the header and write callbacks), or InternetCancelRequest cancels it. The
// last two record their failure and wake the wait; the easy handle is taken
// off the multi handle right after the wait, outside libcurl's callbacks.
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
    std::unique_ptr<curl_slist, ListCleanup> m_headers;
    std::unique_ptr<CURL, EasyCleanup> m_easy;
    // After the easy handle, so that it is destroyed first and takes the
    // transfer off itself before the easy handle goes.
    CurlMulti m_multi;
};
