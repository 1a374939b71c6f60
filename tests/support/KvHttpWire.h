#pragma once

#include "net/KvHttp.h"
#include "tests/support/LoopbackPeer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The wire harness of the TKvHTTP tests: the bytes the component is expected
// to send, a peer script that answers one request, and the player that runs
// one command against a scripted peer and checks how it ended.
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

// What Header and Body hold before every command the harness runs: an
// outcome that expects it shows that the command left them alone.
extern const std::string Unchanged;

// How one command ended.
struct Outcome {
    // The ESockError's message, "abort: " in front for an EAbortError; ""
    // when the command returned normally.
    std::string error = "";
    int replyCode = 0;
    std::string header = "";
    std::string body = "";
    std::string cookieIn = "";
    std::string location = "";
    bool timedOut = false;
};

// Runs one command (Get, or Head for CmdHEAD) on "/p.htm" of the peer, which
// is scripted and started. Header and Body start as Unchanged, the time limit
// is generous (a command that hangs fails instead); setUp may change any of
// it.
Outcome Fetch(LoopbackPeer& peer, const std::function<void(TKvHTTP&)>& setUp = {},
              CmdType command = CmdGET);

// Expects every field of the outcome.
void ExpectOutcome(const Outcome& actual, const Outcome& expected);

// One response and how the command that receives it ends. Rows name only
// what differs from a Get that the peer answers and then closes.
struct ResponseCase {
    const char* name = "";
    std::string response;
    // The peer writes the response in random pieces of 1 to maxPiece bytes,
    // then closes the connection, or holds it open.
    size_t maxPiece = 7;
    bool keepOpen = false;
    CmdType command = CmdGET;
    int64_t maxBodySize = TKvHTTP::Unlimited;
    Outcome expected;
};

// Plays the row: the piece sizes come from seed, so a failing row replays.
void Play(const ResponseCase& row, unsigned seed);
// Plays every row, with seeds counting up from firstSeed.
void PlayAll(const std::vector<ResponseCase>& rows, unsigned firstSeed);

} // namespace KvHttpWire
