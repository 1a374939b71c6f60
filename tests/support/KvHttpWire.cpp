#include "tests/support/KvHttpWire.h"

namespace KvHttpWire {

std::string HostOf(const LoopbackPeer& peer) {
    return peer.Address() + ":" + std::to_string(peer.Port());
}

const char* const AcceptFirst =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff";
const char* const AcceptSecond =
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript";
const char* const ContentType = "Content-type: application/x-www-form-urlencoded";

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

} // namespace KvHttpWire
