#pragma once

#include "toolkit/runtime/TStringList.h"

#include <string>
#include <string_view>

// A string list that finds, replaces, adds and deletes "Name: value" lines
// by name. The name of a line is the text before its first colon; names
// compare without regard to letter case (AnsiCompareText). A line without a
// colon has no name in an unsorted list and the empty name in a sorted one.
class TExStringList : public TStringList {
public:
    // Index of the line with that name, or -1: the first such line of an
    // unsorted list; a sorted list is searched by halving.
    int IndexOfHeader(const std::string& name) const;
    // The same among the first count lines of an unsorted list.
    int IndexOfHeader(std::string_view name, int count) const;
    // Replaces the named line in place with "name: value" (the name in the
    // caller's letter case) or adds it at the end; an empty value deletes it.
    // Meant for unsorted lists: in a sorted one the line lands at its sorted place.
    void SetHeaderValue(const std::string& name, const std::string& value);
};
