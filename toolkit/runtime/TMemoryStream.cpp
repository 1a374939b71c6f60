#include "toolkit/runtime/TMemoryStream.h"

#include <algorithm>
#include <cstring>

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || m_position >= Size())
        return 0;
    const auto n = static_cast<int32_t>(std::min<int64_t>(count, Size() - m_position));
    std::memcpy(buffer, m_data.data() + m_position, static_cast<size_t>(n));
    m_position += n;
    return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (count <= 0)
        return 0;
    const auto end = static_cast<size_t>(m_position) + static_cast<size_t>(count);
    if (end > m_data.size())
        m_data.resize(end);
    std::memcpy(m_data.data() + m_position, buffer, static_cast<size_t>(count));
    m_position += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? m_position
                                                            : Size();
    m_position = std::max<int64_t>(0, base + offset);
    return m_position;
}

void TMemoryStream::SetSize(int64_t size) {
    m_data.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
    m_position = std::min(m_position, size);
}

void TMemoryStream::Clear() {
    m_data.clear();
    m_position = 0;
}
