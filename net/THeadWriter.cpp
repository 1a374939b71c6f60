#include "net/THeadWriter.h"

THeadWriter::~THeadWriter() {
    while (m_list.Count() > m_written)
        m_list.Delete(m_list.Count() - 1);
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
