#include "platform/UrlFailure.h"

#include "platform/UrlService.h"

#include <cerrno>

UrlFailure UrlFailure::Of(uint32_t code) {
    switch (code) {
    case ERROR_NOT_ENOUGH_MEMORY:
        return { code, "Out of memory" };
    case ERROR_INVALID_PARAMETER:
        return { code, "Unknown access type" };
    case ERROR_FILE_TOO_LARGE:
        return { code, "Too large" };
    case ERROR_HTTP_INVALID_HEADER:
        return { code, "Response header too large" };
    case ERROR_INTERNET_TIMEOUT:
        return { code, "Timed out" };
    case ERROR_INTERNET_OPERATION_CANCELLED:
        return { code, "Cancelled" };
    case ERROR_INTERNET_INCORRECT_HANDLE_TYPE:
        return { code, "Invalid handle" };
    case ERROR_INTERNET_INTERNAL_ERROR:
        return { code, "No event loop on this thread" };
    default:
        return { code, "Error " + std::to_string(code) };
    }
}

UrlFailure UrlFailure::OfCurl(CURLcode result, long osErrno, bool inHead) {
    // libcurl refuses a header line over its own bound as if memory ran out,
    // and a reply without a status line as an unsupported protocol.
    if (inHead && result == CURLE_OUT_OF_MEMORY)
        return Of(ERROR_HTTP_INVALID_HEADER);
    if (inHead && result == CURLE_UNSUPPORTED_PROTOCOL)
        result = CURLE_WEIRD_SERVER_REPLY;
    switch (result) {
    case CURLE_OUT_OF_MEMORY:
        return Of(ERROR_NOT_ENOUGH_MEMORY);
    case CURLE_UNSUPPORTED_PROTOCOL:
        return { ERROR_INTERNET_UNRECOGNIZED_SCHEME, "Unsupported address type" };
    case CURLE_URL_MALFORMAT:
        return { ERROR_INTERNET_INVALID_URL, "Invalid address" };
    case CURLE_COULDNT_RESOLVE_PROXY:
        return { ERROR_INTERNET_NAME_NOT_RESOLVED, "Proxy not found" };
    case CURLE_COULDNT_RESOLVE_HOST:
        return { ERROR_INTERNET_NAME_NOT_RESOLVED, "Host not found" };
    case CURLE_COULDNT_CONNECT:
        if (osErrno == ECONNREFUSED)
            return { ERROR_INTERNET_CANNOT_CONNECT, "Connection refused" };
        if (osErrno == ENETUNREACH || osErrno == EHOSTUNREACH)
            return { ERROR_INTERNET_CANNOT_CONNECT, "Host unreachable" };
        return { ERROR_INTERNET_CANNOT_CONNECT, "Cannot connect" };
    // The only time limit handed to libcurl is the one for connecting.
    case CURLE_OPERATION_TIMEDOUT:
        return { ERROR_INTERNET_TIMEOUT, "Connection timed out" };
    case CURLE_PEER_FAILED_VERIFICATION:
        return { ERROR_INTERNET_SEC_INVALID_CERT, "Certificate not trusted" };
    case CURLE_SSL_CONNECT_ERROR:
        return { ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "Secure connection failed" };
    case CURLE_TOO_MANY_REDIRECTS:
        return { ERROR_HTTP_REDIRECT_FAILED, "Too many redirects" };
    case CURLE_GOT_NOTHING:
        return { ERROR_HTTP_INVALID_SERVER_RESPONSE, "Server sent no reply" };
    case CURLE_WEIRD_SERVER_REPLY:
        return { ERROR_HTTP_INVALID_SERVER_RESPONSE, "Invalid reply from server" };
    case CURLE_PARTIAL_FILE:
        return { ERROR_INTERNET_CONNECTION_ABORTED, "Connection closed before the end" };
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return { ERROR_INTERNET_CONNECTION_RESET, "Connection broken" };
    default:
        return { ERROR_INTERNET_INTERNAL_ERROR, curl_easy_strerror(result) };
    }
}
