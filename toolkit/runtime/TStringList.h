#pragma once

#include "toolkit/runtime/Exception.h"

#include <string>
#include <string_view>
#include <vector>

// An index outside the list: "List index out of bounds (%d)".
class EStringListError : public Exception {
public:
    using Exception::Exception;
};

// Case-insensitive comparison of two 8-bit texts, each byte read as its
// Latin-1 character, ordered by the user's locale: negative, zero or
// positive. Texts that differ only in letter case compare equal; other texts
// never do, even where the locale's collation would rank them alike, so
// lookups by name stay exact.
int AnsiCompareText(const std::string& a, const std::string& b);

// Whether two texts are equal when the letter case of A-Z is ignored; every
// other byte must be the same. For ASCII texts this is AnsiCompareText(a, b)
// == 0 without its two folded copies.
bool SameAsciiText(std::string_view a, std::string_view b);

// An ordered list of text lines, indexed from 0. In sorted mode Add puts a
// line at its place by AnsiCompareText and IndexOf searches by halving;
// otherwise lines stay where they are put. Text joins every line with CR LF
// after it; setting it splits at CR LF, LF or a lone CR.
class TStringList {
public:
    TStringList() = default;
    virtual ~TStringList() = default;
    TStringList(const TStringList&) = default;
    TStringList& operator=(const TStringList&) = default;

    int Count() const { return static_cast<int>(m_lines.size()); }
    const std::string& operator[](int index) const;
    const std::string& Strings(int index) const { return (*this)[index]; }
    void Put(int index, const std::string& line);

    // Returns the index the line landed at.
    int Add(const std::string& line);
    void Insert(int index, const std::string& line);
    void Delete(int index);
    void Clear() { m_lines.clear(); }

    // First line equal to the text without regard to letter case, or -1.
    int IndexOf(const std::string& line) const;
    // Sorted mode only: true when found; index is the match or the place
    // where the line would go.
    bool Find(const std::string& line, int& index) const;
    bool Sorted() const { return m_sorted; }
    void SetSorted(bool sorted);

    std::string Text() const;
    // Appends Text() to text, making room once for it and 'extra' bytes
    // more that the caller appends next.
    void AppendText(std::string& text, size_t extra = 0) const;
    void SetText(const std::string& text);

    // "name=value" lines.
    std::string Names(int index) const;
    std::string Values(const std::string& name) const;
    void SetValues(const std::string& name, const std::string& value);
    int IndexOfName(const std::string& name) const;

private:
    void CheckIndex(int index, int limit) const;

    std::vector<std::string> m_lines;
    bool m_sorted { false };
};
