#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>

// Why a URL service call failed: one of the ERROR_ codes of UrlService.h and
// the reason in words a person understands. Every text lives here.
struct UrlFailure {
    uint32_t Code { 0 };
    std::string Text;

    // The service's own failures, which have one text per code.
    static UrlFailure Of(uint32_t code);
    // A transfer that libcurl ended with `result`; `osErrno` (from
    // CURLINFO_OS_ERRNO) tells a refused connection from an unreachable host.
    // `inHead`: a request went out and its response's head has not ended,
    // where some of libcurl's results mean something else than their name.
    static UrlFailure OfCurl(CURLcode result, long osErrno, bool inHead = false);
};
