#include "net/THeadWriter.h"

THeadWriter::~THeadWriter() {
    while (m_list.Count() > m_written)
        m_list.Delete(m_list.Count() - 1);
}

void THeadWriter::Add(const std::string& line) {
    if (m_written < m_list.Count())
        m_list.Put(m_written, line);
    else
        m_list.Add(line);
    ++m_written;
}

std::string& THeadWriter::HeaderLine(const char* name) {
    m_name = name;
    m_valueStart = m_name.size() + 2;
    return Line().append(m_name).append(": ");
}

void THeadWriter::SetHeaderValue() {
    const int index = m_list.IndexOfHeader(m_name, m_written);
    if (m_line.size() == m_valueStart) {
        if (index >= 0) {
            m_list.Delete(index);
            --m_written;
        }
    } else if (index >= 0) {
        m_list.Put(index, m_line);
    } else {
        Add();
    }
}
