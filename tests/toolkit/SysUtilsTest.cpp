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
    // Blanks and signs; hexadecimal digits in either case after exactly the
    // prefixes "$", "x" and "0x"; the signed value within the 32-bit range
    // in either base.
    const std::pair<std::string_view, int32_t> accepted[] = {
        { "200", 200 },
        { "  -0012", -12 },
        { "+7", 7 },
        { "0", 0 },
        { "2147483647", INT32_MAX },
        { "-2147483648", INT32_MIN },
        { "00000000000000000000000000000000000000009", 9 },
        { "$1F", 31 },
        { "x1f", 31 },
        { "0xfF", 255 },
        { "  -$10", -16 },
        { "+0x7FFFFFFF", INT32_MAX },
        { "-$80000000", INT32_MIN },
        { "-0x7fffffff", -INT32_MAX }
    };
    for (const auto& [text, value] : accepted)
        EXPECT_EQ(Convert(text), value) << '"' << text << '"';

    const std::string_view rejected[] = {
        "", "   ", "-", "+-1", "1 ", "\t1", "12a", "1.5", "abc", "2147483648", "-2147483649",
        "99999999999999999999999", "$100000000", "$", "0x", "$G", "$ 1", "00x1",
        // Upper-case X is no prefix; a magnitude that only fits unsigned, or
        // that would wrap when negated, is out of range.
        "X10", "0X10", "0XfF", "$FFFFFFFF", "$80000000", "-$80000001", "-0x80000001", "-$FFFFFFFF"
    };
    for (const auto text : rejected)
        EXPECT_EQ(Convert(text), std::nullopt) << '"' << text << '"';

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
