#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// Sequential reader over a reply: every read must fit in what is left, else it throws
// std::runtime_error "PixlinkChannelBuffer: Buffer is not full enough". Nothing is ever read past
// the end of the vector.
class CPixlinkChannelBuffer {
public:
    static constexpr size_t InitialCapacity = 65536;

    CPixlinkChannelBuffer() { m_bytes.reserve(InitialCapacity); }
    explicit CPixlinkChannelBuffer(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    std::vector<uint8_t>& Bytes() { return m_bytes; }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    size_t GetSize() const { return m_bytes.size(); }
    size_t GetPosition() const { return m_position; }
    size_t GetRemaining() const { return m_bytes.size() - m_position; }
    void Rewind() { m_position = 0; }

    // Copies n bytes to out and advances.
    void Read(void* out, size_t n);
    std::vector<uint8_t> ReadBytes(size_t n);
    // A little-endian 32-bit word.
    uint32_t ReadUInt32();

private:
    void Require(size_t n) const;

    std::vector<uint8_t> m_bytes;
    size_t m_position = 0;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
