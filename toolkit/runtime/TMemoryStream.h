#pragma once

#include "toolkit/runtime/TStream.h"

#include <string>

// A stream over bytes held in memory. TStringStream is the same thing whose
// bytes are read back as a string.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string initial) : m_data(std::move(initial)) {}

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(m_data.size()); }
    void SetSize(int64_t size) override;
    void Clear();

    const char* Memory() const { return m_data.data(); }
    const std::string& DataString() const { return m_data; }

private:
    std::string m_data;
    int64_t m_position { 0 };
};

using TStringStream = TMemoryStream;
