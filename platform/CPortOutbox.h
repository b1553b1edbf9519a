#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/CPortSocket.h"
#include "platform/CUniqueFd.h"
#include "platform/PortWire.h"

namespace Zun {
namespace Platform {

// What a server has yet to hand one client: the packets of one answer, sent as fast as the client
// reads them and never waited for, so that a client that stops reading holds up only itself.
class CPortOutbox {
public:
    struct Packet {
        PortPacketHeader header;
        std::vector<std::uint8_t> bytes;
        CUniqueFd fd;
    };

    bool IsEmpty() const { return m_packets.empty(); }
    std::size_t Bytes() const { return m_bytes; }
    void Add(Packet packet);
    void Clear();
    // Hands the kernel what it takes now; false when the client is gone.
    bool Flush(const CPortSocket& socket);

private:
    std::deque<Packet> m_packets;
    std::size_t m_bytes = 0;
};

}  // namespace Platform
}  // namespace Zun
