#pragma once

#include <cstddef>
#include <cstdint>

namespace Zun {
namespace Platform {

// What travels between the two ends of a substitute port: every SEQPACKET packet starts with this
// header; a section view travels as a file descriptor attached to its packet.
struct PortPacketHeader {
    std::uint32_t kind;
    std::uint32_t messageId;
    std::uint32_t value1;
    std::uint32_t value2;
    std::uint64_t offset;
};

enum PortPacketKind : std::uint32_t {
    kPacketConnect = 1,       // value1: port kind; payload: connection information or message
    kPacketConnectReply = 2,  // value1: NTSTATUS
    kPacketRequest = 3,       // payload: port message; value1: view flags when a view is attached
    kPacketDatagram = 4,      // like a request, no reply is awaited
    kPacketReply = 5,         // payload: port message; value1: view flags when a view is attached
    kPacketReadData = 6,      // value1: data entry, value2: size, offset: where in the entry
    kPacketDataReply = 7,     // value1: NTSTATUS; payload: the bytes read
    kPacketWriteData = 8,     // value1: data entry, offset: where in the entry; payload: the bytes
    kPacketWriteReply = 9,    // a write and the reply in one: value1: data entry, value2: bytes written,
                              // offset: where in the entry; payload: those bytes, then the port message
};

enum PortKind : std::uint32_t {
    kPortLpc = 1,
    kPortAlpc = 2,
};

constexpr std::size_t kPortPacketHeaderSize = sizeof(PortPacketHeader);
constexpr std::size_t kPortMaxPayload = 65536;
constexpr std::size_t kPortMaxPacket = kPortPacketHeaderSize + kPortMaxPayload;
// Largest LPC message, header included.
constexpr std::size_t kLpcMaxMessage = 648;
// Largest ALPC message, header included.
constexpr std::size_t kAlpcMaxMessage = 0xFFFF;
// How long either end waits for the other's half of a connection handshake or a data transfer.
constexpr int kPortHandshakeMs = 10000;
// Largest request a server takes from a client: a section view or an LPC data entry. The largest
// requests are policy documents, far below this; a claim above it is refused, never allocated.
constexpr std::size_t kPortMaxRequestData = 16 * 1024 * 1024;

static_assert(sizeof(PortPacketHeader) == 24, "packet header is packed by layout");

}  // namespace Platform
}  // namespace Zun
