#include "toolkit/runtime/TStringList.h"

#include <gtest/gtest.h>

TEST(AnsiCompareText, ComparesBytesAsLatin1TextWithoutLetterCase) {
    EXPECT_EQ(AnsiCompareText("Content-Type", "content-TYPE"), 0);
    EXPECT_EQ(AnsiCompareText("\xC4pfel", "\xE4PFEL"), 0) << "Latin-1 letters fold as well";
    EXPECT_NE(AnsiCompareText("\xC4", "\xE5"), 0);
    // Neither is valid UTF-8; decoded as such, both became the same
    // replacement character.
    EXPECT_NE(AnsiCompareText("X-\xC0", "X-\xC1"), 0);
    EXPECT_NE(AnsiCompareText("\xFF", "\xFE"), 0);
    EXPECT_NE(AnsiCompareText("a", "ab"), 0);

    // A total order, so sorted lists can be searched by halving.
    const int forward = AnsiCompareText("X-\xC0", "X-\xC1");
    EXPECT_EQ(forward > 0, AnsiCompareText("X-\xC1", "X-\xC0") < 0);

    TStringList sorted;
    sorted.SetSorted(true);
    sorted.Add("X-\xC1");
    sorted.Add("X-\xC0");
    int index = -1;
    EXPECT_TRUE(sorted.Find("x-\xC0", index));
    EXPECT_EQ(sorted[index], "X-\xC0");
}

TEST(SameAsciiText, FoldsOnlyTheCaseOfAsciiLetters) {
    EXPECT_TRUE(SameAsciiText("Content-Length:", "CONTENT-LENGTH:"));
    EXPECT_FALSE(SameAsciiText("Content-Length", "Content-Length:"));
    EXPECT_FALSE(SameAsciiText("\xC4pfel", "\xE4pfel")) << "Latin-1 letters are other bytes";
    EXPECT_FALSE(SameAsciiText("[", "{")) << "only A-Z fold, not the bytes 32 apart around them";
}

TEST(StringList, AppendTextAddsTheJoinedLinesBehindWhatIsThere) {
    TStringList list;
    std::string text = "head:";
    list.AppendText(text);
    EXPECT_EQ(text, "head:");
    list.SetText("a\r\n\r\nlonger line");
    list.AppendText(text, 2);
    EXPECT_EQ(text, "head:" + list.Text());
    EXPECT_EQ(text, "head:a\r\n\r\nlonger line\r\n");
}
