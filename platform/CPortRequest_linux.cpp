#include "platform/CPortRequest.h"

#include <cstring>

namespace Zun {
namespace Platform {

void CPortRequest::SetView(std::vector<std::uint8_t> view, std::uint32_t flags) {
    m_view = std::move(view);
    m_viewFlags = flags;
}

std::uint32_t CPortRequest::Dword(std::size_t offset) const {
    std::uint32_t value = 0;
    if (offset <= m_message.size() && m_message.size() - offset >= 4) {
        std::memcpy(&value, &m_message[offset], 4);
    }
    return value;
}

std::uint16_t CPortRequest::DataLength() const {
    return static_cast<std::uint16_t>(Dword(0) & 0xFFFF);
}

std::uint16_t CPortRequest::DataInfoOffset() const {
    return static_cast<std::uint16_t>(Dword(4) >> 16);
}

std::uint32_t CPortRequest::DataEntryCount() const {
    return DataInfoOffset() == 0 ? 0 : Dword(DataInfoOffset());
}

std::uint32_t CPortRequest::DataEntrySize(std::uint32_t index) const {
    if (index >= DataEntryCount()) {
        return 0;
    }
    return Dword(DataInfoOffset() + 16 + 16 * static_cast<std::size_t>(index));
}

}  // namespace Platform
}  // namespace Zun
