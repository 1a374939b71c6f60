#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The URL service: a small Internet-functions API over libcurl. A root
// handle carries the agent name, the proxy choice and the limits of its
// transfers; a URL handle is one GET whose body is read in chunks.
// Redirects are followed, HTTPS is verified against the system's
// certificate store, and with access type INTERNET_OPEN_TYPE_PRECONFIG the
// usual proxy environment variables (http_proxy, https_proxy, all_proxy,
// no_proxy) apply.
//
// The body streams: a URL handle buffers at most a few tens of kilobytes
// whatever the body's size, because the transfer is paused whenever the
// reader falls behind and resumed when it asks for more.
//
// Waiting: InternetOpenUrlA and InternetReadFile look blocking to their
// caller, but while they wait for the network they dispatch every event of
// the thread, as the socket component's waits do (Events.h,
// MsgWaitForMultipleObjects with QS_ALLINPUT, then DispatchPendingMessages):
// windows repaint, buttons and timers work. The transfer itself is libcurl's
// multi interface driven by the same event loop (CurlMulti.h); no thread is
// made. The calls therefore need a thread with a Qt event dispatcher (the
// user-interface thread); elsewhere they fail with ERROR_INTERNET_INTERNAL_ERROR.
//
// Re-entrancy: a handler that runs inside such a wait may call
// InternetCancelRequest (on the URL handle or its root) to end the transfer;
// the wait then returns at once and the call fails with
// ERROR_INTERNET_OPERATION_CANCELLED. It must not read from or close a
// handle whose call is waiting; doing so is refused by an assertion in debug
// builds. Opening and reading other handles inside the wait is allowed (the
// waits nest).
//
// Handles belong to the thread that opened them.

struct InternetHandle;
using HINTERNET = InternetHandle*;

enum : uint32_t {
    INTERNET_OPEN_TYPE_PRECONFIG = 0, // the environment's proxy settings
    INTERNET_OPEN_TYPE_DIRECT = 1,    // no proxy whatever the environment says
    INTERNET_OPEN_TYPE_PROXY = 3,     // the proxy name given to InternetOpenA
};

// Why a call failed (InternetLastError), with the Windows numbers, so that a
// caller can tell a passing network trouble from a lasting one.
enum : uint32_t {
    ERROR_NOT_ENOUGH_MEMORY = 8,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_FILE_TOO_LARGE = 223,                 // the body passed InternetLimits::MaxBodyBytes
    ERROR_INTERNET_TIMEOUT = 12002,             // connecting, or too few bytes in time
    ERROR_INTERNET_INTERNAL_ERROR = 12004,      // no event loop, or an unexpected libcurl result
    ERROR_INTERNET_INVALID_URL = 12005,         // the address cannot be parsed
    ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006, // neither http nor https
    ERROR_INTERNET_NAME_NOT_RESOLVED = 12007,   // host (or proxy) not found
    ERROR_INTERNET_OPERATION_CANCELLED = 12017, // InternetCancelRequest
    ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018,
    ERROR_INTERNET_CANNOT_CONNECT = 12029,         // refused or unreachable
    ERROR_INTERNET_CONNECTION_ABORTED = 12030,     // the body ended before its announced end
    ERROR_INTERNET_CONNECTION_RESET = 12031,       // the connection broke
    ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152,    // no reply, or not HTTP
    ERROR_HTTP_INVALID_HEADER = 12153,             // the response head is too large
    ERROR_HTTP_REDIRECT_FAILED = 12156,            // too many redirects
    ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157, // the TLS handshake failed
    ERROR_INTERNET_SEC_INVALID_CERT = 12169,       // the server's certificate is not trusted
};

// The bounds of every transfer a root handle opens. Not a Windows record:
// there the same is spread over several options.
struct InternetLimits {
    // Connecting (each connection, redirects included) may take this long.
    uint32_t ConnectMilliseconds = 60000;
    // Fewer than LowSpeedBytes arriving (head and body) within any
    // LowSpeedMilliseconds, counted from when the first request is sent,
    // ends the transfer with ERROR_INTERNET_TIMEOUT. Time during which the
    // transfer waits for its reader does not count. 0 bytes: no such bound.
    uint32_t LowSpeedBytes = 1;
    uint32_t LowSpeedMilliseconds = 60000;
    // A final response that announces a longer body, or whose body grows
    // beyond it, ends the transfer with ERROR_FILE_TOO_LARGE before any byte
    // beyond the bound is handed over. 0: no bound.
    uint64_t MaxBodyBytes = 0;
};

// A root handle, or null when the access type is unknown.
HINTERNET InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                        const char* proxyBypass, uint32_t flags);

// Sets the limits for the URL handles that the root opens from now on;
// false for a handle that is not a root.
bool InternetSetLimits(HINTERNET root, const InternetLimits& limits);

// Sends the request and waits for the final response (after redirects) to
// begin. Null when the URL cannot be fetched at all (bad URL, no
// connection, TLS failure, too many redirects, a bound, a cancel);
// InternetLastError and InternetLastErrorText then say why. A response with
// an error status still gives a handle: its body is the error page, and
// HttpStatusCode tells the status.
HINTERNET InternetOpenUrlA(HINTERNET root, const char* url, const char* headers,
                           uint32_t headersLength, uint32_t flags, uintptr_t context);

// Copies up to `toRead` body bytes into `buffer` and sets `*read`; a count
// of 0 with a true result means the body is finished. False when the
// transfer broke or was ended (InternetLastError says why); `*read` is then 0.
bool InternetReadFile(HINTERNET file, void* buffer, uint32_t toRead, uint32_t* read);

// Ends the transfer of a URL handle, or of every URL handle a root has
// opened, and makes their waiting and later calls (and, for a root, later
// opens) fail with ERROR_INTERNET_OPERATION_CANCELLED. Meant for handlers
// that run inside a wait. Not a Windows function: there another thread
// closes the handle; here the cancel comes from the handle's own thread, and
// the handle stays with its owner. False for null.
bool InternetCancelRequest(HINTERNET handle);

// Releases a handle of either kind; false for null.
bool InternetCloseHandle(HINTERNET handle);

// Status code of the final response of a URL handle; 0 for other handles.
uint32_t HttpStatusCode(HINTERNET file);

// The body length the final response announced, or -1 when it announced
// none (and for other handles).
int64_t HttpContentLength(HINTERNET file);

// The seconds the final response's Retry-After asks the client to wait
// (a date is counted from now), or -1 when it asked for no wait (and for
// other handles).
int64_t HttpRetryAfter(HINTERNET file);

// Why the last failed call of this thread failed: a code from the list
// above, and the reason in words a person understands ("Connection
// refused", "Host not found", "Certificate not trusted", ...).
uint32_t InternetLastError();
std::string InternetLastErrorText();

// Most body bytes a URL handle has held at once, for checking that memory
// stays bounded; 0 for other handles.
size_t InternetPeakBufferedBytes(HINTERNET file);

// The one owner of a handle: closes it when it goes out of scope.
struct InternetHandleCloser {
    void operator()(HINTERNET handle) const { InternetCloseHandle(handle); }
};
using TInternetHandle = std::unique_ptr<InternetHandle, InternetHandleCloser>;
