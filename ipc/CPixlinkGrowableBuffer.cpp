#include "ipc/CPixlinkGrowableBuffer.h"

#include <cstdlib>
#include <cstring>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

CPixlinkGrowableBuffer::CPixlinkGrowableBuffer(const PixlinkAllocator& allocator) : m_allocator(allocator) {}

CPixlinkGrowableBuffer::~CPixlinkGrowableBuffer() {
    if (m_data != nullptr) {
        m_allocator.Free(m_data);
    }
}

const PixlinkAllocator& CPixlinkGrowableBuffer::DefaultAllocator() {
    static const PixlinkAllocator allocator = {&std::malloc, &std::free};
    return allocator;
}

bool CPixlinkGrowableBuffer::Reserve(std::uint64_t needed) {
    if (needed <= m_capacity) {
        return true;
    }
    const std::uint64_t grown = m_capacity + m_capacity / 2;
    const std::uint64_t capacity = needed > grown ? needed : grown;
    if (capacity > SIZE_MAX) {
        return false;
    }
    std::uint8_t* data = static_cast<std::uint8_t*>(m_allocator.Allocate(static_cast<std::size_t>(capacity)));
    if (data == nullptr) {
        return false;
    }
    if (m_length > 0) {
        std::memcpy(data, m_data, static_cast<std::size_t>(m_length));
    }
    if (m_data != nullptr) {
        m_allocator.Free(m_data);
    }
    m_data = data;
    m_capacity = capacity;
    return true;
}

bool CPixlinkGrowableBuffer::Append(const void* bytes, std::uint64_t size) {
    if (size > UINT64_MAX - m_length || !Reserve(m_length + size)) {
        return false;
    }
    if (size > 0) {
        std::memcpy(m_data + m_length, bytes, static_cast<std::size_t>(size));
        m_length += size;
    }
    return true;
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
