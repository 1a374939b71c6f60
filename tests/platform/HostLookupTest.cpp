#include "platform/HostResolver.h"
#include "platform/HostResolverCache.h"
#include "platform/Winsock.h"

#include "tests/platform/MessageRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>

using namespace std::chrono_literals;

namespace Winsock {
namespace {

constexpr UINT kLookupMessage = WM_USER + 102;
constexpr unsigned char kUntouched = 0xAB;

// Answers from a table; a name listed as held blocks until Release(), so a
// test can play a lookup that never answers. Nothing reaches the network.
class TableResolver : public HostResolver {
public:
    HostLookupResult Resolve(const std::string& name) override {
        std::unique_lock lock(m_mutex);
        ++m_calls;
        m_changed.notify_all();
        if (name == m_held) {
            m_changed.wait(lock, [this] { return m_released; });
            m_returned = true;
            m_changed.notify_all();
        }
        auto found = m_answers.find(name);
        if (found == m_answers.end())
            return HostLookupResult { WSAHOST_NOT_FOUND, {}, {}, {} };
        return found->second;
    }

    void Answer(const std::string& name, HostLookupResult result) {
        m_answers[name] = std::move(result);
    }
    void Hold(const std::string& name) { m_held = name; }
    int Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    bool WaitReturned() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 20s, [this] { return m_returned; });
    }
    bool WaitCalled() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 20s, [this] { return m_calls > 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, HostLookupResult> m_answers;
    std::string m_held;
    bool m_released = false;
    bool m_returned = false;
    int m_calls = 0;
};

class HostLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0101, &data), 0);
        std::memset(m_buffer, kUntouched, sizeof m_buffer);
    }
    void TearDown() override { WSACleanup(); }

    HANDLE Lookup(const char* name, int length = MAXGETHOSTSTRUCT) {
        return WSAAsyncGetHostByName(m_recorder.Window(), kLookupMessage, name, m_buffer, length);
    }
    bool WaitForAnswer() {
        return DispatchUntil([&] { return m_recorder.Count(kLookupMessage) > 0; });
    }
    LPARAM Answer() const { return m_recorder.Messages(kLookupMessage).at(0).LParam; }
    const hostent& Entry() const { return *reinterpret_cast<const hostent*>(m_buffer); }
    bool InBuffer(const void* pointer) const {
        auto* at = static_cast<const char*>(pointer);
        return at >= m_buffer && at < m_buffer + sizeof m_buffer;
    }
    bool Untouched() const {
        for (unsigned char byte : m_buffer)
            if (byte != kUntouched)
                return false;
        return true;
    }

    MessageRecorder m_recorder;
    alignas(8) char m_buffer[MAXGETHOSTSTRUCT];
};

} // namespace

TEST_F(HostLookupTest, LocalhostThroughTheSystemResolver) {
    HANDLE task = Lookup("localhost");
    ASSERT_NE(task, 0u);
    ASSERT_TRUE(WaitForAnswer());
    RecordedMessage answer = m_recorder.Messages(kLookupMessage)[0];
    EXPECT_EQ(answer.WParam, task);
    EXPECT_EQ(WSAGETASYNCERROR(answer.LParam), 0);
    EXPECT_GT(WSAGETASYNCBUFLEN(answer.LParam), sizeof(hostent));

    const hostent& entry = Entry();
    EXPECT_EQ(entry.h_addrtype, AF_INET);
    EXPECT_EQ(entry.h_length, 4);
    ASSERT_TRUE(InBuffer(entry.h_name));
    EXPECT_STREQ(entry.h_name, "localhost");
    ASSERT_TRUE(InBuffer(entry.h_aliases));
    ASSERT_TRUE(InBuffer(entry.h_addr_list));
    ASSERT_TRUE(InBuffer(entry.h_addr_list[0]));
    u_long first;
    std::memcpy(&first, entry.h_addr_list[0], 4);
    EXPECT_EQ(first, inet_addr("127.0.0.1"));
}

TEST_F(HostLookupTest, DottedAddressThroughTheSystemResolver) {
    ASSERT_NE(Lookup("127.0.0.2"), 0u);
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(WSAGETASYNCERROR(Answer()), 0);
    EXPECT_STREQ(Entry().h_name, "127.0.0.2");
    u_long first;
    std::memcpy(&first, Entry().h_addr_list[0], 4);
    EXPECT_EQ(first, inet_addr("127.0.0.2"));
    EXPECT_EQ(Entry().h_addr_list[1], nullptr);

    SCOPED_TRACE("a buffer that is too small stays untouched and learns the size");
    m_recorder.Destroy();
    MessageRecorder small;
    std::memset(m_buffer, kUntouched, sizeof m_buffer);
    ASSERT_NE(WSAAsyncGetHostByName(small.Window(), kLookupMessage, "127.0.0.2", m_buffer, 16), 0u);
    ASSERT_TRUE(DispatchUntil([&] { return small.Count(kLookupMessage) > 0; }));
    LPARAM reply = small.Messages(kLookupMessage)[0].LParam;
    EXPECT_EQ(WSAGETASYNCERROR(reply), WSAENOBUFS);
    EXPECT_GT(WSAGETASYNCBUFLEN(reply), 16);
    EXPECT_TRUE(Untouched());
}

TEST_F(HostLookupTest, TestResolverAnswersWithAliasesAndSeveralAddresses) {
    auto resolver = std::make_shared<TableResolver>();
    resolver->Answer("wallpapers.test", { 0,
                                          "www.wallpapers.test",
                                          { "a.test", "b.test" },
                                          { { { 10, 0, 0, 1 } }, { { 10, 0, 0, 2 } } } });
    ScopedHostResolver installed(resolver);
    ASSERT_NE(Lookup("wallpapers.test"), 0u);
    ASSERT_TRUE(WaitForAnswer());
    ASSERT_EQ(WSAGETASYNCERROR(Answer()), 0);
    const hostent& entry = Entry();
    EXPECT_STREQ(entry.h_name, "www.wallpapers.test");
    EXPECT_STREQ(entry.h_aliases[0], "a.test");
    EXPECT_STREQ(entry.h_aliases[1], "b.test");
    EXPECT_EQ(entry.h_aliases[2], nullptr);
    EXPECT_EQ(std::memcmp(entry.h_addr_list[0], "\x0a\x00\x00\x01", 4), 0);
    EXPECT_EQ(std::memcmp(entry.h_addr_list[1], "\x0a\x00\x00\x02", 4), 0);
    EXPECT_EQ(entry.h_addr_list[2], nullptr);
    for (char** alias = entry.h_aliases; *alias; ++alias)
        EXPECT_TRUE(InBuffer(*alias));
}

TEST_F(HostLookupTest, FailedLookupsCarryTheErrorAndLeaveTheBuffer) {
    auto resolver = std::make_shared<TableResolver>();
    resolver->Answer("empty.test", { 0, "empty.test", {}, {} });
    ScopedHostResolver installed(resolver);

    ASSERT_NE(Lookup("unknown.test"), 0u);
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(WSAGETASYNCERROR(Answer()), WSAHOST_NOT_FOUND);
    EXPECT_TRUE(Untouched());

    SCOPED_TRACE("an answer without an address is no success");
    ASSERT_NE(Lookup("empty.test"), 0u);
    ASSERT_TRUE(DispatchUntil([&] { return m_recorder.Count(kLookupMessage) == 2; }));
    EXPECT_EQ(WSAGETASYNCERROR(m_recorder.Messages(kLookupMessage)[1].LParam), WSANO_DATA);
    EXPECT_TRUE(Untouched());

    SCOPED_TRACE("refused at once");
    EXPECT_EQ(WSAAsyncGetHostByName(0, kLookupMessage, "x", m_buffer, 1024), 0u);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(Lookup(nullptr), 0u);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

// Two lookups of a name reach the resolver once; failures, and the answers
// of a resolver that has been replaced, are asked for again.
TEST_F(HostLookupTest, AnAnswerIsKeptUntilAnotherResolverIsInstalled) {
    const auto lookupCalls = [this](TableResolver& resolver, const char* name) {
        const size_t before = m_recorder.Count(kLookupMessage);
        EXPECT_NE(Lookup(name), 0u);
        EXPECT_EQ(m_recorder.Count(kLookupMessage), before) << "answers only as a message";
        EXPECT_TRUE(DispatchUntil([&] { return m_recorder.Count(kLookupMessage) > before; }));
        const LPARAM reply = m_recorder.Messages(kLookupMessage).back().LParam;
        u_long address = 0;
        if (WSAGETASYNCERROR(reply) == 0)
            std::memcpy(&address, Entry().h_addr_list[0], 4);
        return std::make_pair(resolver.Calls(), address);
    };
    auto first = std::make_shared<TableResolver>();
    first->Answer("site.test", { 0, "site.test", {}, { { { 127, 0, 0, 5 } } } });
    auto second = std::make_shared<TableResolver>();
    second->Answer("site.test", { 0, "site.test", {}, { { { 127, 0, 0, 6 } } } });
    {
        ScopedHostResolver installed(first);
        EXPECT_EQ(lookupCalls(*first, "site.test"), std::make_pair(1, inet_addr("127.0.0.5")));
        EXPECT_EQ(lookupCalls(*first, "SITE.test"), std::make_pair(1, inet_addr("127.0.0.5")));
        EXPECT_EQ(lookupCalls(*first, "unknown.test"), std::make_pair(2, u_long { 0 }));
        EXPECT_EQ(lookupCalls(*first, "unknown.test"), std::make_pair(3, u_long { 0 }));
    }
    ScopedHostResolver installed(second);
    EXPECT_EQ(lookupCalls(*second, "site.test"), std::make_pair(1, inet_addr("127.0.0.6")));

    SCOPED_TRACE("an answer that arrives after its resolver was replaced is not kept");
    second->Hold("late.test");
    second->Answer("late.test", { 0, "late.test", {}, { { { 127, 0, 0, 7 } } } });
    const size_t answered = m_recorder.Count(kLookupMessage);
    ASSERT_NE(Lookup("late.test"), 0u);
    ScopedHostResolver replaced(first);
    second->Release();
    ASSERT_TRUE(DispatchUntil([&] { return m_recorder.Count(kLookupMessage) > answered; }));
    EXPECT_EQ(lookupCalls(*first, "late.test"), std::make_pair(4, u_long { 0 }));
}

TEST(HostResolverCache, KeepsAnAddressForAMinute) {
    const auto t0 = HostResolverCache::Clock::time_point {} + 1h;
    HostResolverCache cache;
    cache.Keep("a.test", { 0, "a.test", {}, { { { 127, 0, 0, 1 } } } }, t0);
    cache.Keep("none.test", { 0, "none.test", {}, {} }, t0);
    EXPECT_TRUE(cache.Find("a.test", t0 + 59s));
    EXPECT_FALSE(cache.Find("a.test", t0 + 60s));
    EXPECT_FALSE(cache.Find("none.test", t0)) << "a success without an address";
}

TEST_F(HostLookupTest, ALookupThatNeverAnswersCanBeCancelled) {
    auto resolver = std::make_shared<TableResolver>();
    resolver->Hold("slow.test");
    resolver->Answer("slow.test", { 0, "slow.test", {}, { { { 10, 0, 0, 9 } } } });
    ScopedHostResolver installed(resolver);

    HANDLE task = Lookup("slow.test");
    ASSERT_NE(task, 0u);
    ASSERT_TRUE(resolver->WaitCalled());
    DispatchFor(50ms);
    EXPECT_EQ(m_recorder.Count(kLookupMessage), 0u);

    EXPECT_EQ(WSACancelAsyncRequest(task), 0);
    EXPECT_EQ(WSACancelAsyncRequest(task), SOCKET_ERROR);
    resolver->Release();
    ASSERT_TRUE(resolver->WaitReturned());
    DispatchFor(50ms);
    EXPECT_EQ(m_recorder.Count(kLookupMessage), 0u);
    EXPECT_TRUE(Untouched());
}

TEST_F(HostLookupTest, DestroyingTheWindowWhileALookupRunsIsSafe) {
    auto resolver = std::make_shared<TableResolver>();
    resolver->Hold("slow.test");
    resolver->Answer("slow.test", { 0, "slow.test", {}, { { { 10, 0, 0, 9 } } } });
    ScopedHostResolver installed(resolver);

    // The buffer is freed with the window, as the socket component does: a
    // late write would be a use-after-free for the sanitizer.
    auto buffer = std::make_unique<char[]>(MAXGETHOSTSTRUCT);
    MessageRecorder owner;
    ASSERT_NE(WSAAsyncGetHostByName(owner.Window(), kLookupMessage, "slow.test", buffer.get(),
                                    MAXGETHOSTSTRUCT),
              0u);
    ASSERT_TRUE(resolver->WaitCalled());
    owner.Destroy();
    buffer.reset();
    resolver->Release();
    ASSERT_TRUE(resolver->WaitReturned());
    DispatchFor(50ms);
    EXPECT_EQ(owner.Count(kLookupMessage), 0u);
}

} // namespace Winsock
