#include "net/KvExtstr.h"

namespace {

// The text before the first colon; "" for a line without one.
std::string HeaderName(const std::string& line) {
    const size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : line.substr(0, colon);
}

} // namespace

int TExStringList::IndexOfHeader(const std::string& name) const {
    if (!Sorted()) {
        for (int i = 0; i < Count(); ++i) {
            const std::string& line = Strings(i);
            if (line.find(':') != std::string::npos && AnsiCompareText(HeaderName(line), name) == 0)
                return i;
        }
        return -1;
    }
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
