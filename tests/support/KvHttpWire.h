#pragma once

#include "tests/support/LoopbackPeer.h"

#include <string>
#include <vector>

// Shared pieces of the TKvHTTP wire tests: the bytes the component is
// expected to send, and a peer script that answers one request.
namespace KvHttpWire {

extern const char* const AcceptFirst;
extern const char* const AcceptSecond;
extern const char* const ContentType;

// "http://<peer address>:<peer port>" + path.
std::string Url(const LoopbackPeer& peer, const std::string& path);
// "<peer address>:<peer port>", the value of the Host line for the peer.
std::string HostOf(const LoopbackPeer& peer);

// A request as the component sends it: the request line, "Host: " + host
// (none for an empty host), the two Accept lines, the optional header lines,
// the Content-type line, the trailing lines (URI-header, Link,
// Content-Length), the empty line and the body; CR LF after every line.
std::string Request(const std::string& host, const std::string& requestLine,
                    const std::vector<std::string>& optional = {},
                    const std::vector<std::string>& trailing = {}, const std::string& body = "");

// Adds to the script: accept, read the request head and bodyBytes more,
// answer with the response in random pieces (from seed), then close.
void AnswerOnce(LoopbackPeer& peer, const std::string& response, unsigned seed = 1,
                size_t bodyBytes = 0);

} // namespace KvHttpWire
