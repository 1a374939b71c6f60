#include "toolkit/runtime/SysUtils.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

std::optional<int32_t> Convert(std::string_view text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        return std::nullopt;
    return value;
}

} // namespace

TEST(SysUtils, TryStrToIntFollowsTheNumberBoxConversion) {
    struct Row {
        std::string_view text;
        std::optional<int32_t> expected;
    };
    const Row rows[] = {
        // decimal, blanks and signs
        { "200", 200 },
        { "  42", 42 },
        { "+7", 7 },
        { "-7", -7 },
        { "  -0012", -12 },
        { "0", 0 },
        { "", std::nullopt },
        { "   ", std::nullopt },
        { "-", std::nullopt },
        { "+-1", std::nullopt },
        { "1 ", std::nullopt },
        { "\t1", std::nullopt },
        { "12a", std::nullopt },
        { "1.5", std::nullopt },
        { "abc", std::nullopt },
        // the 32-bit range
        { "2147483647", 2147483647 },
        { "2147483648", std::nullopt },
        { "-2147483648", INT32_MIN },
        { "-2147483649", std::nullopt },
        { "99999999999999999999999", std::nullopt },
        { "00000000000000000000000000000000000000009", 9 },
        // hexadecimal prefixes, either case, the whole 32 bits
        { "$1F", 31 },
        { "x1f", 31 },
        { "X10", 16 },
        { "0x10", 16 },
        { "0XfF", 255 },
        { "  -$10", -16 },
        { "+0x7FFFFFFF", INT32_MAX },
        { "$FFFFFFFF", -1 },
        { "$80000000", INT32_MIN },
        { "$100000000", std::nullopt },
        { "$", std::nullopt },
        { "0x", std::nullopt },
        { "$G", std::nullopt },
        { "$ 1", std::nullopt },
        { "0", 0 },
        { "00x1", std::nullopt },
    };
    for (const auto& row : rows)
        EXPECT_EQ(Convert(row.text), row.expected) << '"' << row.text << '"';

    EXPECT_EQ(StrToIntDef("abc", 200), 200);
    EXPECT_EQ(StrToIntDef("-5", 200), -5);
}

TEST(SysUtils, AdjustLineBreaksMakesEveryLineEndCrLf) {
    EXPECT_EQ(AdjustLineBreaks(""), "");
    EXPECT_EQ(AdjustLineBreaks("a\r\nb"), "a\r\nb");
    EXPECT_EQ(AdjustLineBreaks("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(AdjustLineBreaks("a\rb\r"), "a\r\nb\r\n");
    EXPECT_EQ(AdjustLineBreaks("a\n\rb"), "a\r\n\r\nb");
    EXPECT_EQ(AdjustLineBreaks("\r\r\n\n"), "\r\n\r\n\r\n");
    const std::string withNul("a\0\nb", 4);
    EXPECT_EQ(AdjustLineBreaks(withNul), std::string("a\0\r\nb", 5));
}
