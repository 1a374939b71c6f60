#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The URL service: a small Internet-functions API over libcurl. A root
// handle carries the agent name and the proxy choice; a URL handle is one
// GET whose body is read in chunks. Redirects are followed, HTTPS is
// verified against the system's certificate store, and with access type
// INTERNET_OPEN_TYPE_PRECONFIG the usual proxy environment variables
// (http_proxy, https_proxy, all_proxy, no_proxy) apply.
//
// The body streams: a URL handle buffers at most a few tens of kilobytes
// whatever the body's size, because the transfer is paused whenever the
// reader falls behind and resumed when it asks for more.
//
// Every call blocks the calling thread and processes no window events.
// Handles belong to the thread that opened them.

struct InternetHandle;
using HINTERNET = InternetHandle*;

enum : uint32_t {
    INTERNET_OPEN_TYPE_PRECONFIG = 0, // the environment's proxy settings
    INTERNET_OPEN_TYPE_DIRECT = 1,    // no proxy whatever the environment says
    INTERNET_OPEN_TYPE_PROXY = 3,     // the proxy name given to InternetOpenA
};

// A root handle, or null when the access type is unknown.
HINTERNET InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                        const char* proxyBypass, uint32_t flags);

// Sends the request and waits for the final response (after redirects) to
// begin. Null when the URL cannot be fetched at all (bad URL, no
// connection, TLS failure, too many redirects); InternetLastErrorText then
// says why. A response with an error status still gives a handle: its
// body is the error page, and HttpStatusCode tells the status.
HINTERNET InternetOpenUrlA(HINTERNET root, const char* url, const char* headers,
                           uint32_t headersLength, uint32_t flags, uintptr_t context);

// Copies up to `toRead` body bytes into `buffer` and sets `*read`; a count
// of 0 with a true result means the body is finished. False when the
// transfer broke (InternetLastErrorText says why); `*read` is then 0.
bool InternetReadFile(HINTERNET file, void* buffer, uint32_t toRead, uint32_t* read);

// Releases a handle of either kind; false for null.
bool InternetCloseHandle(HINTERNET handle);

// Status code of the final response of a URL handle; 0 for other handles.
uint32_t HttpStatusCode(HINTERNET file);

// Why the last failed call of this thread failed, in libcurl's words.
std::string InternetLastErrorText();

// Most body bytes a URL handle has held at once, for checking that memory
// stays bounded; 0 for other handles.
size_t InternetPeakBufferedBytes(HINTERNET file);

// The one owner of a handle: closes it when it goes out of scope.
struct InternetHandleCloser {
    void operator()(HINTERNET handle) const { InternetCloseHandle(handle); }
};
using TInternetHandle = std::unique_ptr<InternetHandle, InternetHandleCloser>;
