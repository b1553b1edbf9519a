#pragma once

#include <cstddef>
#include <cstdint>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// How a growable buffer gets and returns its memory; the caller of RequestToBuffer chooses.
struct PixlinkAllocator {
    void* (*Allocate)(std::size_t size);
    void (*Free)(void* memory);
};

// A reply buffer that grows to whatever the reply needs.
class CPixlinkGrowableBuffer {
public:
    explicit CPixlinkGrowableBuffer(const PixlinkAllocator& allocator = DefaultAllocator());
    ~CPixlinkGrowableBuffer();
    CPixlinkGrowableBuffer(const CPixlinkGrowableBuffer&) = delete;
    CPixlinkGrowableBuffer& operator=(const CPixlinkGrowableBuffer&) = delete;

    static const PixlinkAllocator& DefaultAllocator();

    const std::uint8_t* Data() const { return m_data; }
    std::uint64_t Length() const { return m_length; }
    std::uint64_t Capacity() const { return m_capacity; }
    void Clear() { m_length = 0; }
    // Grows to max(needed, 1.5 × capacity) when the bytes do not fit; false when memory runs out.
    bool Append(const void* bytes, std::uint64_t size);

private:
    bool Reserve(std::uint64_t needed);

    PixlinkAllocator m_allocator;
    std::uint8_t* m_data = nullptr;
    std::uint64_t m_length = 0;
    std::uint64_t m_capacity = 0;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
