#include "net/KvFileBuffer.h"

#include "toolkit/runtime/TStream.h"

#include <algorithm>
#include <cstring>

TKvFileBuffer::TKvFileBuffer(TStream& source)
    : m_source(source), m_size(source.Size()), m_block(new char[kBlockSize]()),
      m_start(m_block.get() + 1), m_end(m_start) {
    m_source.SetPosition(0);
    FillWindow(nullptr, 0);
}

TKvFileBuffer::~TKvFileBuffer() = default;

bool TKvFileBuffer::FillWindow(const char* carry, int32_t carryLength) {
    if (m_source.Position() >= m_size)
        return false;
    carryLength = std::clamp(carryLength, 0, kWindowSize);
    m_start = m_block.get() + 1;
    if (carryLength > 0)
        std::memmove(m_start, carry, static_cast<size_t>(carryLength));
    const int32_t room = kWindowSize - carryLength;
    const int32_t n = std::max(m_source.Read(m_start + carryLength, room), 0);
    m_end = m_start + carryLength + n;
    if (n < room)
        *m_end = 0;
    return true;
}
