#pragma once

#include <cstddef>
#include <cstdint>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// Growable byte buffer for tagged-item command bodies. The data may start behind the beginning of
// the allocation after leading bytes were discarded; growing moves it back first.
class CBuffer {
public:
    static constexpr size_t Failed = static_cast<size_t>(-1);
    static constexpr size_t GrowthGranularity = 4096;

    CBuffer() = default;
    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;
    virtual ~CBuffer();

    const uint8_t* GetData() const { return m_data; }
    size_t GetLength() const { return m_length; }
    size_t GetCapacity() const { return m_capacity; }

    // Makes room for n more bytes; false when the length would overflow or memory is not available.
    bool Reserve(size_t n);
    // Returns the offset of the appended bytes, or Failed.
    size_t Append(const void* bytes, size_t n);
    // Appends {tag, n} as two little-endian 32-bit words and then the n value bytes.
    bool AppendItem(uint32_t tag, const void* value, uint32_t n);
    void Discard(size_t n);

protected:
    virtual bool Reallocate(size_t capacity);
    virtual bool Allocate(size_t capacity);
    virtual void Free();

    static size_t GrownCapacity(size_t capacity, size_t needed);

    uint8_t* m_allocation = nullptr;
    uint8_t* m_data = nullptr;
    size_t m_capacity = 0;
    size_t m_length = 0;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
