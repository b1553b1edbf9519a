#pragma once

// The product's port and broadcast formats: sizes, thresholds, offsets and result codes shared by
// the clients and by whatever serves them.

#include <cstddef>
#include <cstdint>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// Connection magic "PixLink " as two little-endian words, and the protocol version.
constexpr std::uint32_t kMagicLow = 0x4c786950;
constexpr std::uint32_t kMagicHigh = 0x206b6e69;
constexpr std::uint32_t kProtocolVersion = 2;

constexpr std::size_t kPortHeaderSize = 40;

// Result codes of the clients.
constexpr std::uint32_t kResultSuccess = 0;
constexpr std::uint32_t kResultFailure = 1;
constexpr std::uint32_t kResultOpenFailed = 4;
constexpr std::uint32_t kResultBufferTooSmall = 6;
constexpr std::uint32_t kResultTimeout = 9;
constexpr std::uint32_t kResultNotSupported = 10;

constexpr std::uint32_t kInitFlagWorkerThread = 0x2;
constexpr std::uint32_t kRequestFlagOneWay = 0x1;

// LPC messages.
constexpr std::size_t kLpcMessageSize = 648;
constexpr std::size_t kLpcConnectionInfoSize = 12;
constexpr std::size_t kLpcSmallRequestMax = 596;
constexpr std::uint64_t kLpcSmallCapacityMax = 600;
constexpr std::size_t kLpcLargeInlineMax = 556;
constexpr std::size_t kLpcReplyInlineMax = 600;
constexpr std::size_t kLpcReceiveDataLength = 608;
constexpr std::size_t kLpcTypeOffset = 40;
constexpr std::size_t kLpcFlagsOffset = 44;
constexpr std::size_t kLpcCapacityOffset = 48;
constexpr std::size_t kLpcSmallDataOffset = 52;
constexpr std::size_t kLpcDataInfoOffset = 52;
constexpr std::size_t kLpcDataInfoSize = 40;
constexpr std::size_t kLpcEntry0SizeOffset = 68;
constexpr std::size_t kLpcEntry1SizeOffset = 84;
constexpr std::size_t kLpcLargeDataOffset = 92;
constexpr std::size_t kLpcReplyResultOffset = 40;
constexpr std::size_t kLpcReplyLengthOffset = 44;
constexpr std::size_t kLpcReplyDataOffset = 48;

// ALPC messages.
constexpr std::size_t kAlpcMessageSize = 0xFFFF;
constexpr std::size_t kAlpcConnectMessageSize = 56;
constexpr std::size_t kAlpcRequestHeaderSize = 16;
constexpr std::size_t kAlpcInlineRequestMax = 0xFFC7;
constexpr std::size_t kAlpcInlineReplyMax = 0xFFCF;
constexpr std::size_t kAlpcTypeOffset = 40;
constexpr std::size_t kAlpcToBufferOffset = 44;
constexpr std::size_t kAlpcLengthOffset = 48;
constexpr std::size_t kAlpcCapacityOffset = 52;
constexpr std::size_t kAlpcDataOffset = 56;
constexpr std::size_t kAlpcReplyResultOffset = 40;
constexpr std::size_t kAlpcReplyLengthOffset = 44;
constexpr std::size_t kAlpcReplyDataOffset = 48;
constexpr std::uint32_t kAlpcPortFlags = 0x10000;
constexpr std::uint32_t kAlpcConnectFlags = 0x20000;
constexpr std::uint32_t kAlpcSectionFlags = 0x40000;
constexpr std::uint32_t kAlpcSendViewFlags = 0x60000;
constexpr std::uint32_t kAlpcReplyViewFlag = 0x40000;

// Broadcast area.
constexpr std::uint32_t kBroadcastHeaderSize = 32;
constexpr std::size_t kBroadcastMagicOffset = 8;
constexpr std::size_t kBroadcastVersionOffset = 16;
constexpr std::size_t kBroadcastDataOffsetOffset = 24;
constexpr std::size_t kBroadcastDataSizeOffset = 28;
constexpr std::uint32_t kBroadcastMutexWaitMs = 5000;

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
