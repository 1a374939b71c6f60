#include "net/KvExtstr.h"

#include <algorithm>

namespace {

// The text before the first colon; "" for a line without one.
std::string HeaderName(const std::string& line) {
    const size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : line.substr(0, colon);
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// AnsiCompareText(a, b) == 0 without its two folded copies: for ASCII
// texts, which header names are, folding the letter case is lowering A-Z.
// Names with other bytes take the general comparison.
bool SameName(std::string_view a, std::string_view b) {
    if (!IsAscii(a) || !IsAscii(b))
        return AnsiCompareText(std::string(a), std::string(b)) == 0;
    return SameAsciiText(a, b);
}

} // namespace

int TExStringList::IndexOfHeader(std::string_view name, int count) const {
    for (int i = 0; i < count && i < Count(); ++i) {
        const std::string& line = Strings(i);
        const size_t colon = line.find(':');
        if (colon != std::string::npos && SameName(std::string_view(line).substr(0, colon), name))
            return i;
    }
    return -1;
}

int TExStringList::IndexOfHeader(const std::string& name) const {
    if (!Sorted())
        return IndexOfHeader(name, Count());
    int lo = 0;
    int hi = Count() - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const int c = AnsiCompareText(HeaderName(Strings(mid)), name);
        if (c == 0)
            return mid;
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

void TExStringList::SetHeaderValue(const std::string& name, const std::string& value) {
    int i = IndexOfHeader(name);
    if (value.empty()) {
        if (i >= 0)
            Delete(i);
        return;
    }
    const std::string line = name + ": " + value;
    if (i < 0)
        Add(line);
    else
        Put(i, line);
}
