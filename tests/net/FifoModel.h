#pragma once

#include "net/KvFifoBuffer.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// Plays a sequence of operations, decoded from bytes, on a small buffer and
// on a std::deque, and reports the first difference. The data holds no zero
// byte and the file part stays below one search chunk, so Search must find
// exactly the first occurrence; zero bytes and chunk edges have their own tests.
class TFifoModel {
public:
    explicit TFifoModel(int32_t capacity) : m_buffer(capacity) {}

    // "" when every step agreed with the model.
    std::string Run(const uint8_t* data, size_t size) {
        m_data = data;
        m_size = size;
        m_at = 0;
        while (m_at < m_size) {
            const uint8_t op = Next();
            std::string failure;
            switch (op % 9) {
            case 0:
            case 1:
            case 2:
                failure = Append(Next() * (op >> 4 | 1) % 600, (op & 0x40) != 0);
                break;
            case 3:
            case 4:
                failure = Take(Next() % 300, true);
                break;
            case 5:
                failure = Take(Next() % 300, false);
                break;
            case 6:
            case 7:
                failure = Search((op & 0x80) != 0);
                break;
            default:
                failure = Clear();
                break;
            }
            if (failure.empty() && m_buffer.Count() != static_cast<int32_t>(m_model.size()))
                failure = "Count " + std::to_string(m_buffer.Count()) + " instead of " +
                          std::to_string(m_model.size());
            if (!failure.empty())
                return "step " + std::to_string(m_steps) + ": " + failure;
            ++m_steps;
        }
        return std::string();
    }

private:
    static constexpr char kAlphabet[] = "ab\r\n";
    static constexpr size_t kMostHeld = 60000;

    uint8_t Next() { return m_at < m_size ? m_data[m_at++] : 0; }
    char NextChar() { return kAlphabet[Next() % 4]; }

    // Through Append, or received into the free tail as the socket component
    // does, with Append only for what the tail has no room for.
    std::string Append(int length, bool intoTail) {
        if (m_model.size() + static_cast<size_t>(length) > kMostHeld)
            return std::string();
        std::string bytes;
        const uint8_t seed = Next();
        for (int i = 0; i < length; ++i)
            bytes += kAlphabet[(seed + i * (seed | 1) + i / 3) % 4];
        int done = 0;
        while (intoTail && done < length) {
            const TKvFifoBuffer::TSpan tail = m_buffer.FreeTail();
            if (tail.Length == 0)
                break;
            const int n = std::min(tail.Length, length - done);
            std::copy_n(bytes.data() + done, n, tail.Data);
            m_buffer.Commit(n);
            done += n;
        }
        m_buffer.Append(bytes.data() + done, length - done);
        m_model.insert(m_model.end(), bytes.begin(), bytes.end());
        return std::string();
    }

    std::string Take(int length, bool remove) {
        std::vector<char> got(static_cast<size_t>(length) + 1, 0);
        const int32_t n =
            remove ? m_buffer.Extract(got.data(), length) : m_buffer.Peek(got.data(), length);
        const auto expected =
            static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(length), m_model.size()));
        const char* name = remove ? "Extract " : "Peek ";
        if (n != expected)
            return name + std::to_string(length) + " gave " + std::to_string(n) + " bytes, not " +
                   std::to_string(expected);
        if (!std::equal(got.begin(), got.begin() + n, m_model.begin()))
            return name + std::to_string(length) + " gave other bytes than were appended";
        if (remove)
            m_model.erase(m_model.begin(), m_model.begin() + n);
        return std::string();
    }

    std::string Search(bool settled) {
        std::string delimiter;
        const int length = Next() % 4 + 1;
        for (int i = 0; i < length; ++i)
            delimiter += NextChar();
        if (settled)
            m_buffer.Peek(nullptr, 0); // waits for a refill under way
        const int32_t got = m_buffer.Search(delimiter.c_str());
        int32_t expected = 0;
        if (!m_model.empty() && m_model.size() < delimiter.size()) {
            expected = -1;
        } else if (!m_model.empty()) {
            const auto at =
                std::search(m_model.begin(), m_model.end(), delimiter.begin(), delimiter.end());
            if (at != m_model.end())
                expected = static_cast<int32_t>(at - m_model.begin() + length);
        }
        // While a refill runs the memory part counts as empty: 0 is a right
        // answer then, and there is no telling whether one was running.
        if (got == expected || (!settled && got == 0))
            return std::string();
        return "Search \"" + delimiter + "\" gave " + std::to_string(got) + " instead of " +
               std::to_string(expected);
    }

    std::string Clear() {
        m_buffer.Clear();
        m_model.clear();
        if (!m_buffer.TempFileName().empty())
            return "Clear kept the spill file";
        return std::string();
    }

    TKvFifoBuffer m_buffer;
    std::deque<char> m_model;
    const uint8_t* m_data { nullptr };
    size_t m_size { 0 };
    size_t m_at { 0 };
    int m_steps { 0 };
};
