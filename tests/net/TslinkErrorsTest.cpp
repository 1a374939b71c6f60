#include "net/ERangeError.h"
#include "net/ETlsError.h"
#include "net/SocketErrorText.h"
#include "tests/net/TslinkTestSupport.h"

#include <set>
#include <type_traits>

TEST(SocketErrorText, TableTextsAndTheirFallbacks) {
    TTessalink component(nullptr);
    EXPECT_EQ(component.SocketErrorText(10061), "10061:Connection refused");
    EXPECT_EQ(component.SocketErrorText(11001), "11001:Host not found");
    EXPECT_EQ(component.SocketErrorText(10101), "Unknown Error No. 10101");
    EXPECT_EQ(component.SocketErrorText(0), "");

    // Every record is reachable by its number and fits the 51-character field.
    std::set<int32_t> numbers;
    for (const TSocketErrorRecord& record : SocketErrorTable) {
        EXPECT_LE(std::string(record.Text).size(), 51u) << record.Number;
        EXPECT_TRUE(numbers.insert(record.Number).second) << record.Number;
        if (record.Number != 0) {
            EXPECT_EQ(component.SocketErrorText(static_cast<uint16_t>(record.Number)),
                      std::to_string(record.Number) + ":" + record.Text);
        }
    }
    EXPECT_EQ(SocketErrorTable.front().Number, 10004);
    EXPECT_EQ(SocketErrorTable.back().Number, 0);
    EXPECT_STREQ(SocketErrorTable[46].Text, "Host not found");
}

TEST(SocketErrorText, CheckSocketErrorRaisesAfterOnSocketError) {
    TTessalink component(nullptr);
    component.ReportLevel = 8;
    StatusLog log;
    log.Attach(component);
    std::vector<std::pair<uint16_t, std::string>> seen;
    component.OnSocketError = [&](TComponent* sender, uint16_t errorNo, const std::string& text) {
        EXPECT_EQ(sender, &component);
        seen.emplace_back(errorNo, text);
    };

    for (int tolerated : { 10035, 0, 10000 }) {
        Winsock::WSASetLastError(tolerated);
        component.CheckSocketError(10035);
        EXPECT_EQ(component.LastErrorNo, tolerated);
    }
    EXPECT_TRUE(seen.empty());

    Winsock::WSASetLastError(10049);
    ExpectRaises<ESockError>([&] { component.CheckSocketError(10035); },
                             "10049:Can't assign requested address");
    EXPECT_EQ(component.LastErrorNo, 10049);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::make_pair(uint16_t { 10049 },
                                      std::string("10049:Can't assign requested address")));
    EXPECT_EQ(log.Texts, std::vector<std::string> { "Looking Up Error Message" });

    // A handler's own exception leaves in place of the socket error.
    component.OnSocketError = [](TComponent*, uint16_t, const std::string&) {
        throw Exception("handler");
    };
    Winsock::WSASetLastError(10054);
    ExpectRaises<Exception>([&] { component.CheckSocketError(10035); }, "handler");
}

// No error of the components can be made without its kind: a socket
// error's comes from its number, and a TLS error is Tls but for a handshake
// that the time limit or a cancel ended.
TEST(SocketErrorText, ErrorsCarryTheKindOfTheirFailure) {
    static_assert(!std::is_constructible_v<ESockError, std::string>);
    static_assert(!std::is_constructible_v<EAbortError, std::string>);
    const struct {
        int32_t number;
        TSockFailure kind;
    } numbers[] = {
        { 10061, TSockFailure::Refused },  { 10052, TSockFailure::Reset },
        { 10053, TSockFailure::Reset },    { 10054, TSockFailure::Reset },
        { 10060, TSockFailure::TimedOut }, { 11001, TSockFailure::HostNotFound },
        { 10065, TSockFailure::Socket },   { 10101, TSockFailure::Socket },
    };
    TTessalink component(nullptr);
    for (const auto& row : numbers) {
        Winsock::WSASetLastError(row.number);
        try {
            component.CheckSocketError(10035);
            ADD_FAILURE() << row.number << " raised nothing";
        } catch (const ESockError& error) {
            EXPECT_EQ(error.Kind, row.kind) << row.number;
        }
    }
    const struct {
        TTlsFailure failure;
        TSockFailure kind;
    } tls[] = {
        { TTlsFailure::TimedOut, TSockFailure::TimedOut },
        { TTlsFailure::Canceled, TSockFailure::Canceled },
        { TTlsFailure::OldVersion, TSockFailure::Tls },
        { TTlsFailure::SocketFailed, TSockFailure::Tls },
    };
    for (const auto& row : tls)
        EXPECT_EQ(ETlsError(row.failure, "").Kind, row.kind) << static_cast<int>(row.failure);
}

TEST(ReportStatus, PassesByLevelAndSwallowsHandlerErrors) {
    TTessalink component(nullptr);
    int calls = 0;
    component.OnStatus = [&](TComponent* sender, const std::string& status) {
        EXPECT_EQ(sender, &component);
        EXPECT_EQ(status, component.StatusText);
        ++calls;
    };
    const struct {
        int32_t reportLevel;
        std::vector<uint8_t> passing;
    } cases[] = { { -1, {} },      { 0, {} },          { 1, { 1 } },
                  { 3, { 1, 2 } }, { 4, { 1, 2, 4 } }, { 8, { 1, 2, 4, 8 } } };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.reportLevel);
        component.ReportLevel = each.reportLevel;
        component.StatusText.clear();
        calls = 0;
        // The texts name the numbers, so the levels keep their values.
        for (StatusLevel level : { StatusLevel::Reply, StatusLevel::Completion, StatusLevel::Socket,
                                   StatusLevel::Detail })
            component.ReportStatus(level, "level " + std::to_string(static_cast<int>(level)));
        EXPECT_EQ(calls, static_cast<int>(each.passing.size()));
        EXPECT_EQ(component.StatusText,
                  each.passing.empty() ? "" : "level " + std::to_string(each.passing.back()));
    }

    component.OnStatus = [](TComponent*, const std::string&) { throw Exception("broken handler"); };
    EXPECT_NO_THROW(component.ReportStatus(StatusLevel::Reply, "still fine"));
    EXPECT_EQ(component.StatusText, "still fine");
}

TEST(ReportStatus, NegativeTimeOutIsARangeErrorBeforeAnyWait) {
    TTessalink component(nullptr);
    component.TimeOut = -1;
    component.Host = "127.0.0.1";
    component.Port = 1;
    ExpectRaises<ERangeError>([&] { component.Connect(); }, "Range check error");
    EXPECT_FALSE(component.Timer->Enabled());
}

TEST(NthField, SplitsAtOneSeparator) {
    EXPECT_EQ(NthField("HTTP/1.0 200 OK", ' ', 2), "200");
    EXPECT_EQ(NthField("HTTP/1.0 200 OK", ' ', 3), "OK");
    EXPECT_EQ(NthField("a,,b", ',', 1), "a");
    EXPECT_EQ(NthField("a,,b", ',', 2), "");
    EXPECT_EQ(NthField("a,,b", ',', 3), "b");
    EXPECT_EQ(NthField("a,,b", ',', 4), "");
    EXPECT_EQ(NthField("abc", ',', 1), "abc");
    EXPECT_EQ(NthField("abc", ',', 0), "");
    EXPECT_EQ(NthField("abc", ',', -1), "");
    for (int n : { -1, 0, 1, 2 })
        EXPECT_EQ(NthField("", ',', n), "");
}
