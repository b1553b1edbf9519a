#include "messages/pixlink/CBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

CBuffer::~CBuffer() {
    // A virtual call here would not reach a derived class, so derived buffers that do not own their
    // memory forget it in their own destructor before this one runs.
    std::free(m_allocation);
}

size_t CBuffer::GrownCapacity(size_t capacity, size_t needed) {
    const size_t half = capacity / 2;
    const size_t oneAndHalf = capacity > Failed - half ? Failed : capacity + half;
    const size_t wanted = std::max(oneAndHalf, needed);
    if (wanted > Failed - (GrowthGranularity - 1)) {
        return needed;
    }
    const size_t rounded = (wanted + GrowthGranularity - 1) / GrowthGranularity * GrowthGranularity;
    return std::max(needed, rounded);
}

bool CBuffer::Reserve(size_t n) {
    if (m_data != m_allocation) {
        std::memmove(m_allocation, m_data, m_length);
        m_data = m_allocation;
    }
    if (n > Failed - m_length) {
        return false;
    }
    const size_t needed = m_length + n;
    if (needed <= m_capacity) {
        return true;
    }
    const size_t capacity = GrownCapacity(m_capacity, needed);
    return m_allocation != nullptr ? Reallocate(capacity) : Allocate(capacity);
}

size_t CBuffer::Append(const void* bytes, size_t n) {
    if (!Reserve(n)) {
        return Failed;
    }
    const size_t offset = m_length;
    if (n != 0) {
        std::memcpy(m_data + offset, bytes, n);
    }
    m_length += n;
    return offset;
}

bool CBuffer::AppendItem(uint32_t tag, const void* value, uint32_t n) {
    const uint8_t head[8] = {static_cast<uint8_t>(tag),       static_cast<uint8_t>(tag >> 8),
                             static_cast<uint8_t>(tag >> 16), static_cast<uint8_t>(tag >> 24),
                             static_cast<uint8_t>(n),         static_cast<uint8_t>(n >> 8),
                             static_cast<uint8_t>(n >> 16),   static_cast<uint8_t>(n >> 24)};
#if SIZE_MAX <= UINT32_MAX
    // Only a 32-bit size cannot hold the header and the largest value together.
    if (n > Failed - sizeof head) {
        return false;
    }
#endif
    // Reserving both parts at once keeps a failed append from leaving half an item behind.
    if (!Reserve(sizeof head + n)) {
        return false;
    }
    return Append(head, sizeof head) != Failed && Append(value, n) != Failed;
}

void CBuffer::Discard(size_t n) {
    n = std::min(n, m_length);
    m_data += n;
    m_length -= n;
}

bool CBuffer::Reallocate(size_t capacity) {
    void* grown = std::realloc(m_allocation, capacity);
    if (grown == nullptr) {
        return false;
    }
    m_allocation = static_cast<uint8_t*>(grown);
    m_data = m_allocation;
    m_capacity = capacity;
    return true;
}

bool CBuffer::Allocate(size_t capacity) {
    void* memory = std::malloc(capacity);
    if (memory == nullptr) {
        return false;
    }
    m_allocation = static_cast<uint8_t*>(memory);
    m_data = m_allocation;
    m_capacity = capacity;
    return true;
}

void CBuffer::Free() {
    std::free(m_allocation);
    m_allocation = nullptr;
    m_data = nullptr;
    m_capacity = 0;
    m_length = 0;
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
