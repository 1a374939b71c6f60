#include "tests/support/KvHttpWire.h"

#include <gtest/gtest.h>

namespace KvHttpWire {

std::string HostOf(const LoopbackPeer& peer) {
    return peer.Address() + ":" + std::to_string(peer.Port());
}

const char* const AcceptFirst =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff";
const char* const AcceptSecond =
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript";
const char* const ContentType = "Content-type: application/x-www-form-urlencoded";

const std::string Unchanged = "(before the call)";

std::string Url(const LoopbackPeer& peer, const std::string& path) {
    return "http://" + HostOf(peer) + path;
}

std::string Request(const std::string& host, const std::string& requestLine,
                    const std::vector<std::string>& optional,
                    const std::vector<std::string>& trailing, const std::string& body) {
    std::string text = requestLine + "\r\n";
    if (!host.empty())
        text += "Host: " + host + "\r\n";
    text += std::string(AcceptFirst) + "\r\n" + AcceptSecond + "\r\n";
    for (const auto& line : optional)
        text += line + "\r\n";
    text += std::string(ContentType) + "\r\n";
    for (const auto& line : trailing)
        text += line + "\r\n";
    return text + "\r\n" + body;
}

void AnswerOnce(LoopbackPeer& peer, const std::string& response, unsigned seed, size_t bodyBytes) {
    peer.Accept().ReadUntil("\r\n\r\n");
    if (bodyBytes > 0)
        peer.ReadBytes(bodyBytes);
    peer.SendInPieces(response, seed).Close();
}

Outcome Fetch(LoopbackPeer& peer, const std::function<void(TKvHTTP&)>& setUp, CmdType command) {
    TKvHTTP http;
    http.Header = Unchanged;
    http.Body = Unchanged;
    http.TimeOut = 20000;
    if (setUp)
        setUp(http);
    Outcome outcome;
    try {
        if (command == CmdHEAD)
            http.Head(Url(peer, "/p.htm"));
        else
            http.Get(Url(peer, "/p.htm"));
    } catch (const ESockError& e) {
        outcome.error = (dynamic_cast<const EAbortError*>(&e) ? "abort: " : "") + e.Message();
        // Callers that try a time-out again know it by its kind alone.
        EXPECT_EQ(e.Kind == TSockFailure::TimedOut, http.TimedOut) << e.Message();
    }
    outcome.replyCode = http.ReplyCode;
    outcome.header = http.Header;
    outcome.body = http.Body;
    outcome.cookieIn = http.CookieIn();
    outcome.location = http.Location();
    outcome.timedOut = http.TimedOut;
    return outcome;
}

namespace {

// A short text is printed when it differs; a long one (a header or body of
// many KiB) only by its size and whether it is equal.
void ExpectText(const std::string& actual, const std::string& expected, const char* what) {
    constexpr size_t printable = 4096;
    if (actual.size() <= printable && expected.size() <= printable) {
        EXPECT_EQ(actual, expected) << what;
        return;
    }
    EXPECT_EQ(actual.size(), expected.size()) << what;
    EXPECT_TRUE(actual == expected) << what << " differs";
}

} // namespace

void ExpectOutcome(const Outcome& actual, const Outcome& expected) {
    EXPECT_EQ(actual.error, expected.error);
    EXPECT_EQ(actual.replyCode, expected.replyCode);
    ExpectText(actual.header, expected.header, "the header");
    ExpectText(actual.body, expected.body, "the body");
    EXPECT_EQ(actual.cookieIn, expected.cookieIn);
    EXPECT_EQ(actual.location, expected.location);
    EXPECT_EQ(actual.timedOut, expected.timedOut);
}

void Play(const ResponseCase& row, unsigned seed) {
    SCOPED_TRACE(row.name);
    LoopbackPeer peer;
    peer.Accept().ReadUntil("\r\n\r\n").SendInPieces(row.response, seed, row.maxPiece);
    if (row.keepOpen)
        peer.Stall();
    else
        peer.Close();
    peer.Start();
    const Outcome outcome = Fetch(
        peer, [&row](TKvHTTP& http) { http.MaxBodySize = row.maxBodySize; }, row.command);
    ExpectOutcome(outcome, row.expected);
    peer.Stop();
}

void PlayAll(const std::vector<ResponseCase>& rows, unsigned firstSeed) {
    unsigned seed = firstSeed;
    for (const ResponseCase& row : rows)
        Play(row, seed++);
}

} // namespace KvHttpWire
