#pragma once

#include "toolkit/runtime/Exception.h"

#include <string>

// `Cannot download "%s": %s`: the URL, then why (the service's words, or
// "HTTP status 404").
class EDownloadError : public Exception {
public:
    EDownloadError(const std::string& url, const std::string& reason)
        : Exception("Cannot download \"" + url + "\": " + reason) {}
};

// Copies the body of `url` into the file `fileName` through the URL service,
// streaming it through a 4024-byte buffer. The URL and the name are used
// unchanged. The agent name is the program file's name.
//
// The file appears only after a complete transfer with a success status: it
// is written beside the target and renamed over it at the end. When the URL
// cannot be opened, the final response has no 2xx status, or the transfer
// breaks, this raises EDownloadError and leaves the target as it was (no
// file when there was none). File failures raise EInOutError with the codes
// of InOutError.h; an existing directory of that name gives "File access
// denied". Blocks the calling thread; processes no window events.
void FetchImageFile(const std::string& url, const std::string& fileName);
