#pragma once

#include "net/KvExtstr.h"

#include <cstddef>
#include <string>

// Writes the lines of a request head over those of the last head in the
// same list: a line put where an old one was takes over its memory, so a
// head composed again and again needs no new memory once its lines have
// grown. The lines of the last head that are not written over go when the
// writer does, so that the list then holds this head only, also when
// composing it failed halfway.
class THeadWriter {
public:
    // line: where each line is made before it goes into the list; kept by
    // the caller for its memory.
    THeadWriter(TExStringList& list, std::string& line) : m_list(list), m_line(line) {}
    ~THeadWriter();
    THeadWriter(const THeadWriter&) = delete;
    THeadWriter& operator=(const THeadWriter&) = delete;

    // The next line, empty, to be made and then put by Add().
    std::string& Line() {
        m_line.clear();
        return m_line;
    }
    void Add() { Add(m_line); }
    void Add(const std::string& line) {
        if (m_written < m_list.Count())
            m_list.Put(m_written, line);
        else
            m_list.Add(line);
        ++m_written;
    }
    void Add(const char* line) { Add(Line().append(line)); }
    // The line "name: ", for its value to be appended and SetHeaderValue()
    // to be called.
    std::string& HeaderLine(const char* name) {
        m_name = name;
        m_valueStart = m_name.size() + 2;
        return Line().append(m_name).append(": ");
    }
    // TExStringList::SetHeaderValue(name, value) over the lines written so
    // far, for the line HeaderLine began: it replaces the line of that name
    // or is added; an empty value deletes that line instead.
    void SetHeaderValue();

private:
    TExStringList& m_list;
    std::string& m_line;
    // Lines of this head so far: the first m_written of the list.
    int m_written { 0 };
    std::string m_name;
    size_t m_valueStart { 0 };
};
