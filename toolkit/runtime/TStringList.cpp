#include "toolkit/runtime/TStringList.h"

#include <QString>

#include <algorithm>

int AnsiCompareText(const std::string& a, const std::string& b) {
    // Latin-1 gives every byte its own character; a multi-byte decoding
    // would turn different invalid sequences into the same replacement
    // character and make different names equal.
    const QString left =
        QString::fromLatin1(a.data(), static_cast<qsizetype>(a.size())).toCaseFolded();
    const QString right =
        QString::fromLatin1(b.data(), static_cast<qsizetype>(b.size())).toCaseFolded();
    if (left == right)
        return 0;
    const int byLocale = QString::localeAwareCompare(left, right);
    return byLocale != 0 ? byLocale : left.compare(right);
}

bool SameAsciiText(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

const std::string& TStringList::operator[](int index) const {
    CheckIndex(index, Count() - 1);
    return m_lines[static_cast<size_t>(index)];
}

void TStringList::Put(int index, const std::string& line) {
    CheckIndex(index, Count() - 1);
    if (m_sorted) {
        Delete(index);
        Add(line);
        return;
    }
    m_lines[static_cast<size_t>(index)] = line;
}

int TStringList::Add(const std::string& line) {
    if (!m_sorted) {
        m_lines.push_back(line);
        return Count() - 1;
    }
    int index = 0;
    Find(line, index);
    m_lines.insert(m_lines.begin() + index, line);
    return index;
}

void TStringList::Insert(int index, const std::string& line) {
    CheckIndex(index, Count());
    m_lines.insert(m_lines.begin() + index, line);
}

void TStringList::Delete(int index) {
    CheckIndex(index, Count() - 1);
    m_lines.erase(m_lines.begin() + index);
}

int TStringList::IndexOf(const std::string& line) const {
    if (m_sorted) {
        int index = 0;
        return Find(line, index) ? index : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(m_lines[static_cast<size_t>(i)], line) == 0)
            return i;
    return -1;
}

bool TStringList::Find(const std::string& line, int& index) const {
    int lo = 0;
    int hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const int c = AnsiCompareText(m_lines[static_cast<size_t>(mid)], line);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            found = found || c == 0;
        }
    }
    index = lo;
    return found;
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !m_sorted)
        std::stable_sort(
            m_lines.begin(), m_lines.end(),
            [](const std::string& a, const std::string& b) { return AnsiCompareText(a, b) < 0; });
    m_sorted = sorted;
}

std::string TStringList::Text() const {
    std::string text;
    AppendText(text);
    return text;
}

void TStringList::AppendText(std::string& text, size_t extra) const {
    size_t size = text.size() + extra;
    for (const std::string& line : m_lines)
        size += line.size() + 2;
    text.reserve(size);
    for (const std::string& line : m_lines)
        text.append(line).append("\r\n");
}

void TStringList::SetText(const std::string& text) {
    m_lines.clear();
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            Add(text.substr(start));
            break;
        }
        Add(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
}

std::string TStringList::Names(int index) const {
    const std::string& line = (*this)[index];
    const size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

int TStringList::IndexOfName(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = m_lines[static_cast<size_t>(i)];
        const size_t eq = line.find('=');
        if (eq != std::string::npos && AnsiCompareText(line.substr(0, eq), name) == 0)
            return i;
    }
    return -1;
}

std::string TStringList::Values(const std::string& name) const {
    const int i = IndexOfName(name);
    if (i < 0)
        return std::string();
    const std::string& line = m_lines[static_cast<size_t>(i)];
    return line.substr(line.find('=') + 1);
}

void TStringList::SetValues(const std::string& name, const std::string& value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0)
            Delete(i);
    } else if (i < 0) {
        Add(name + "=" + value);
    } else {
        Put(i, name + "=" + value);
    }
}

void TStringList::CheckIndex(int index, int limit) const {
    if (index < 0 || index > limit)
        throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}
