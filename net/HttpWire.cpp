#include "net/HttpWire.h"

#include <algorithm>
#include <array>
#include <limits>

namespace {

bool IsDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The value of a run of decimal digits, or -1 when it exceeds limit.
int64_t DigitsValue(std::string_view digits, int64_t limit) {
    int64_t value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > limit)
            return -1;
    }
    return value;
}

} // namespace

namespace HttpWire {

void AppendWireText(std::string& out, const std::string& text, bool spacesToPlus) {
    // What becomes of each byte value: kept, dropped, or a space.
    enum : uint8_t { Kept = 0, Dropped = 1, Space = 2 };
    static constexpr auto kinds = [] {
        std::array<uint8_t, 256> table {};
        for (int byte = 0; byte < 0x20; ++byte)
            table[byte] = byte == '\t' ? Kept : Dropped;
        table[0x7F] = Dropped;
        table[' '] = Space;
        return table;
    }();
    uint8_t found = Kept;
    for (char c : text)
        found |= kinds[static_cast<unsigned char>(c)];
    // Mostly there is nothing to change: the text goes over in one piece.
    if (found == Kept || (found == Space && !spacesToPlus)) {
        out.append(text);
        return;
    }
    for (char c : text) {
        const uint8_t kind = kinds[static_cast<unsigned char>(c)];
        if (kind != Dropped)
            out += (spacesToPlus && kind == Space) ? '+' : c;
    }
}

std::string WireText(const std::string& text, bool spacesToPlus) {
    std::string result;
    result.reserve(text.size());
    AppendWireText(result, text, spacesToPlus);
    return result;
}

std::string From(std::string_view text, size_t index) {
    return index < text.size() ? std::string(text.substr(index)) : std::string();
}

int16_t StatusCodeOf(const std::string& statusLine) {
    std::string_view field = WithoutLineEnd(statusLine);
    const size_t blank = field.find(' ');
    if (blank == std::string_view::npos)
        return 0;
    field.remove_prefix(blank + 1);
    field = field.substr(0, field.find(' '));
    if (!IsDigits(field))
        return 0;
    const int64_t value = DigitsValue(field, std::numeric_limits<int16_t>::max());
    return value < 0 ? 0 : static_cast<int16_t>(value);
}

int64_t ContentLengthOf(const std::string& line) {
    std::string_view value = WithoutLineEnd(line);
    value.remove_prefix(std::min(value.size(), value.find(':') + 1));
    const auto first = value.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return -1;
    const auto last = value.find_last_not_of(" \t");
    value = value.substr(first, last - first + 1);
    if (!IsDigits(value))
        return -1;
    return DigitsValue(value, std::numeric_limits<int32_t>::max());
}

int PortOfPortPart(const std::string& portPart) {
    if (portPart.size() < 2 || portPart[0] != ':')
        return 0;
    const std::string digits = portPart.substr(1);
    if (!IsDigits(digits))
        return 0;
    const int64_t value = DigitsValue(digits, 65535);
    return value < 1 ? 0 : static_cast<int>(value);
}

bool IsFollowedRedirect(int code) {
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace HttpWire
