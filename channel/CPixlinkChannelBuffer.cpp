#include "channel/CPixlinkChannelBuffer.h"

#include <cstring>
#include <stdexcept>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

void CPixlinkChannelBuffer::Require(size_t n) const {
    // Written so that a huge n cannot overflow the sum.
    if (n > m_bytes.size() || m_position > m_bytes.size() - n) {
        throw std::runtime_error("PixlinkChannelBuffer: Buffer is not full enough");
    }
}

void CPixlinkChannelBuffer::Read(void* out, size_t n) {
    Require(n);
    if (n != 0) {
        std::memcpy(out, m_bytes.data() + m_position, n);
    }
    m_position += n;
}

std::vector<uint8_t> CPixlinkChannelBuffer::ReadBytes(size_t n) {
    Require(n);
    std::vector<uint8_t> bytes(m_bytes.begin() + m_position, m_bytes.begin() + m_position + n);
    m_position += n;
    return bytes;
}

uint32_t CPixlinkChannelBuffer::ReadUInt32() {
    uint8_t b[4];
    Read(b, sizeof b);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
