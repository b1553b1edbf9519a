#include "platform/CPortOutbox.h"

#include <utility>

namespace Zun {
namespace Platform {

void CPortOutbox::Add(Packet packet) {
    m_bytes += sizeof(packet.header) + packet.bytes.size();
    m_packets.push_back(std::move(packet));
}

void CPortOutbox::Clear() {
    m_packets.clear();
    m_bytes = 0;
}

bool CPortOutbox::Flush(const CPortSocket& socket) {
    if (m_packets.empty()) {
        return true;
    }
    std::vector<CPortSocket::Packet> packets;
    packets.reserve(m_packets.size());
    for (const Packet& packet : m_packets) {
        packets.push_back({packet.header, packet.bytes.data(), packet.bytes.size(), packet.fd.Get()});
    }
    std::size_t sent = 0;
    const bool alive = socket.TrySend(packets, sent);
    for (std::size_t i = 0; i < sent; ++i) {
        m_bytes -= sizeof(m_packets.front().header) + m_packets.front().bytes.size();
        m_packets.pop_front();
    }
    return alive;
}

}  // namespace Platform
}  // namespace Zun
