#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// Takes a fuzz input apart front to back; reads past the end give zeros and shorter byte runs.
class CFuzzInput {
public:
    CFuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_offset >= m_size; }
    // A little-endian word of the next bytes (at most 4).
    std::uint32_t Word(std::size_t bytes) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < bytes && m_offset < m_size; ++i) {
            value |= static_cast<std::uint32_t>(m_data[m_offset++]) << (8 * i);
        }
        return value;
    }
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        count = std::min(count, m_size - m_offset);
        std::vector<std::uint8_t> bytes(m_data + m_offset, m_data + m_offset + count);
        m_offset += count;
        return bytes;
    }
    std::vector<std::uint8_t> Rest() { return Bytes(m_size - m_offset); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
};
