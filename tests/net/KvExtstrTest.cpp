#include "net/KvExtstr.h"

#include <gtest/gtest.h>

#include <random>

TEST(StringList, KeepsLinesInOrderAndJoinsThemWithCrLf) {
    TStringList list;
    EXPECT_EQ(list.Add("one"), 0);
    EXPECT_EQ(list.Add("two"), 1);
    list.Insert(0, "zero");
    list.Put(2, "TWO");
    EXPECT_EQ(list.Text(), "zero\r\none\r\nTWO\r\n");
    EXPECT_EQ(list.IndexOf("two"), 2);
    list.Delete(1);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1], "TWO");
    EXPECT_THROW(list.Delete(2), EStringListError);
    EXPECT_THROW(list[-1], EStringListError);

    list.SetText("a\r\nb\nc\rd\r\n\r\ne");
    EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");

    SCOPED_TRACE("sorted mode");
    list.SetText("pear\r\napple\r\nFig");
    list.SetSorted(true);
    EXPECT_EQ(list.Add("banana"), 1);
    EXPECT_EQ(list.Text(), "apple\r\nbanana\r\nFig\r\npear\r\n");
    EXPECT_EQ(list.IndexOf("PEAR"), 3);
}

TEST(HeaderList, SetsFindsAndDeletesLinesByName) {
    TExStringList list;
    list.Add("GET http://host/x HTTP/1.0");
    list.Add("Accept */*");
    EXPECT_EQ(list.IndexOfHeader("Accept */*"), -1); // no colon, no name
    EXPECT_EQ(list.IndexOfHeader("GET http"), 0);    // the request line's name
    EXPECT_EQ(list.IndexOfHeader("GET"), -1);

    list.SetHeaderValue("Host", "a");
    EXPECT_EQ(list.Text(), "GET http://host/x HTTP/1.0\r\nAccept */*\r\nHost: a\r\n");
    list.Add("User-Agent: x");
    list.SetHeaderValue("host", "b:81");
    EXPECT_EQ(list[2], "host: b:81");
    EXPECT_EQ(list.IndexOfHeader("HOST"), 2);
    list.SetHeaderValue("HOST", "");
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list[2], "User-Agent: x");
    list.SetHeaderValue("Cookie", "");
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.IndexOfHeader("user-agent"), 2);
    EXPECT_EQ(list.IndexOfHeader(""), -1);
    list.Add(": empty name");
    EXPECT_EQ(list.IndexOfHeader(""), 3);
}

TEST(HeaderList, SortedListIsSearchedByHalving) {
    TExStringList list;
    EXPECT_EQ(list.IndexOfHeader("a"), -1);
    list.SetSorted(true);
    EXPECT_EQ(list.IndexOfHeader("a"), -1);
    for (const char* line : { "Host: h", "Accept: */*", "Cookie: c", "User-Agent: u", "Date: d" })
        list.Add(line);
    ASSERT_EQ(list.Text(), "Accept: */*\r\nCookie: c\r\nDate: d\r\nHost: h\r\nUser-Agent: u\r\n");
    const char* names[] = { "accept", "COOKIE", "Date", "host", "user-agent" };
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(list.IndexOfHeader(names[i]), i) << names[i];
    EXPECT_EQ(list.IndexOfHeader("Age"), -1);
    EXPECT_EQ(list.IndexOfHeader("Zzz"), -1);
    EXPECT_EQ(list.IndexOfHeader("Dat"), -1);
    // Without a colon a line has the empty name in a sorted list.
    list.Add("nocolon");
    EXPECT_EQ(list.IndexOfHeader("nocolon"), -1);
}

TEST(HeaderList, CountedSearchLooksAtTheFirstLinesOnly) {
    TExStringList list;
    for (const char* line : { "GET / HTTP/1.0", "Host: a", "Accept: x", "host: b" })
        list.Add(line);
    EXPECT_EQ(list.IndexOfHeader("HOST", 0), -1);
    EXPECT_EQ(list.IndexOfHeader("HOST", 1), -1);
    EXPECT_EQ(list.IndexOfHeader("HOST", 2), 1);
    EXPECT_EQ(list.IndexOfHeader("accept", 2), -1);
    EXPECT_EQ(list.IndexOfHeader("accept", 3), 2);
    EXPECT_EQ(list.IndexOfHeader("Accept", 99), 2);
}

// Names of ASCII and of other Latin-1 bytes: the search finds what the
// locale-aware comparison calls the same name, and nothing else.
TEST(HeaderList, NamesMatchExactlyWhenTheComparisonSaysTheyAreTheSame) {
    const std::string alphabet = "aAbBsS-1 \xC4\xE4\xDF\xB5\xFF\xE5";
    std::mt19937 random(20261207);
    const auto name = [&] {
        std::string text;
        for (size_t n = random() % 5; n > 0; --n)
            text += alphabet[random() % alphabet.size()];
        return text;
    };
    for (int round = 0; round < 300; ++round) {
        TExStringList list;
        for (int i = 0; i < 6; ++i)
            list.Add(random() % 4 == 0 ? name() : name() + ": v");
        for (int probe = 0; probe < 10; ++probe) {
            const std::string wanted = name();
            int expected = -1;
            for (int i = 0; i < list.Count() && expected < 0; ++i) {
                const size_t colon = list[i].find(':');
                if (colon != std::string::npos &&
                    AnsiCompareText(list[i].substr(0, colon), wanted) == 0)
                    expected = i;
            }
            ASSERT_EQ(list.IndexOfHeader(wanted), expected) << list.Text() << "? " << wanted;
        }
    }
}
