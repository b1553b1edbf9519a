#include "messages/pixlink/CRawPacket.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

CRawPacket::CAttachableBuffer::~CAttachableBuffer() {
    if (m_attached) {
        Forget();
    }
}

void CRawPacket::CAttachableBuffer::Attach(uint8_t* data, size_t length, size_t capacity) {
    Free();
    m_allocation = data;
    m_data = data;
    m_length = length;
    m_capacity = capacity;
    m_attached = true;
}

bool CRawPacket::CAttachableBuffer::Reallocate(size_t capacity) {
    return !m_attached && CBuffer::Reallocate(capacity);
}

bool CRawPacket::CAttachableBuffer::Allocate(size_t capacity) {
    return !m_attached && CBuffer::Allocate(capacity);
}

void CRawPacket::CAttachableBuffer::Free() {
    if (m_attached) {
        Forget();
        return;
    }
    CBuffer::Free();
}

void CRawPacket::CAttachableBuffer::Forget() {
    m_allocation = nullptr;
    m_data = nullptr;
    m_capacity = 0;
    m_length = 0;
    m_attached = false;
}

std::vector<uint8_t> CRawPacket::GetBytes() const {
    const uint8_t* data = m_buffer.GetData();
    return data == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(data, data + m_buffer.GetLength());
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
