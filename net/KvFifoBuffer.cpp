#include "net/KvFifoBuffer.h"

#include "toolkit/runtime/TFileStream.h"

class TKvFifoBuffer::TBlock {};

TKvFifoBuffer::TKvFifoBuffer() : TKvFifoBuffer(CapacityFor(0)) {}
TKvFifoBuffer::TKvFifoBuffer(int32_t capacity) : m_capacity(capacity) {}
TKvFifoBuffer::~TKvFifoBuffer() = default;
int32_t TKvFifoBuffer::CapacityFor(uint32_t) { return 65536; }
void TKvFifoBuffer::Append(const void*, int32_t) {}
int32_t TKvFifoBuffer::Extract(void*, int32_t) { return 0; }
int32_t TKvFifoBuffer::Peek(void*, int32_t) { return 0; }
int32_t TKvFifoBuffer::Search(const char*) { return 0; }
void TKvFifoBuffer::Clear() {}
