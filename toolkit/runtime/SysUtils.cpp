#include "toolkit/runtime/SysUtils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

std::string SysErrorMessage(int systemError) {
    std::string text = std::strerror(systemError);
    while (!text.empty() && (text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

std::string ExpandFileName(const std::string& fileName) {
    if (fileName.empty() || fileName.front() == '/')
        return fileName;
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer))
        return fileName;
    std::string dir = buffer;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir + fileName;
}

std::string ExtractFilePath(const std::string& fileName) {
    const auto slash = fileName.rfind('/');
    return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& fileName) {
    const auto slash = fileName.rfind('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

std::string ExtractFileExt(const std::string& fileName) {
    const std::string name = ExtractFileName(fileName);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool TryStrToInt(std::string_view text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    // Exactly these prefixes: "$", "x" and "0x"; an upper-case X is no prefix.
    if (i < text.size() && (text[i] == '$' || text[i] == 'x')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && text[i + 1] == 'x') {
        hex = true;
        i += 2;
    }
    if (i == text.size())
        return false;
    // Accumulated in 64 bits and checked after every digit, so no digit
    // count can overflow the accumulator. The signed value must fit, in
    // hexadecimal as in decimal: negating a larger magnitude would wrap.
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    for (; i < text.size(); ++i) {
        const int digit =
            hex ? HexDigitValue(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0)
            return false;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (magnitude > limit)
            return false;
    }
    auto bits = static_cast<uint32_t>(magnitude);
    if (negative)
        bits = 0u - bits;
    value = static_cast<int32_t>(bits);
    return true;
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : fallback;
}

std::string AdjustLineBreaks(std::string_view text) {
    std::string result;
    result.reserve(text.size() + text.size() / 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            result += "\r\n";
        } else {
            result += c;
        }
    }
    return result;
}
