// The port a URL names, as the HTTP component takes it. Deliberately, the
// port written in the URL is the one connected to: connecting to the scheme's
// default whatever the URL says would send the request to another server.
#include "net/KvHttp.h"
#include "tests/support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <string>

// Digits beyond the 16-bit range name no port, so the scheme's default
// applies, as for a URL without one. A proxy peer shows the Port each URL
// gave and the Host line that names it.
TEST(UrlPort, PortsEndAt65535AndBeyondTheSchemeDefaultApplies) {
    LoopbackPeer proxy;
    for (int request = 0; request < 2; ++request)
        proxy.Accept().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n").Close();
    proxy.Start();
    TKvHTTP http;
    http.Proxy = "127.0.0.1";
    http.ProxyPort = proxy.Port();

    http.Get("http://example.invalid:65535/");
    EXPECT_EQ(http.Port, 65535);
    http.Get("http://example.invalid:65536/");
    EXPECT_EQ(http.Port, 80);

    ASSERT_TRUE(proxy.WaitDone());
    const std::string requests = proxy.Received();
    // The Host line of the request for the URL.
    auto hostOf = [&](const std::string& url) -> std::string {
        const size_t line = requests.find("GET " + url + " HTTP/1.0\r\n");
        const size_t host = line == std::string::npos ? line : requests.find("\r\nHost: ", line);
        if (host == std::string::npos)
            return "(none)";
        const size_t value = host + 8;
        return requests.substr(value, requests.find("\r\n", value) - value);
    };
    EXPECT_EQ(hostOf("http://example.invalid:65535/"), "example.invalid:65535") << requests;
    EXPECT_EQ(hostOf("http://example.invalid:65536/"), "example.invalid") << requests;
}
