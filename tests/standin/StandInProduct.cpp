#include "tests/standin/StandInProduct.h"

#include <cstring>
#include <memory>

#include "platform/PixlinkProtocol.h"
#include "tests/ipc/TestCommands.h"

namespace Zun {
namespace IpcTest {

using namespace Connectors::Common::Pixlink;
using Testing::CPortStandIn;
typedef std::vector<std::uint8_t> Bytes;

namespace {

constexpr std::uint32_t kLyingAlpcLength = 60000;
constexpr std::uint32_t kLyingLpcLength = 600;
constexpr std::size_t kSmallViewSize = 66000;
constexpr std::uint32_t kViewTooSmallLength = 70000;
constexpr std::uint32_t kLargeWithoutViewLength = 65488;
constexpr std::uint32_t kViewWithoutFlagLength = 65500;
constexpr std::uint32_t kForeignViewFlag = 0x20000;

std::uint32_t Dword(const Bytes& message, std::size_t offset) {
    std::uint32_t value = 0;
    if (message.size() >= offset + 4) {
        std::memcpy(&value, message.data() + offset, 4);
    }
    return value;
}

std::size_t DataLength(const Bytes& message) {
    return message.size() - kPortHeaderSize;
}

std::uint32_t EntrySize(const CPortStandIn::Request& request, std::size_t index) {
    return index < request.entries.size() ? request.entries[index].size : 0;
}

class CProduct {
public:
    explicit CProduct(CPortStandIn::Kind kind) : m_kind(kind) {}

    CPortStandIn::Reply Handle(const CPortStandIn::Request& request) {
        const bool lpc = m_kind == CPortStandIn::kLpc;
        const bool oneWay =
            !request.wantsReply || (lpc && (Dword(request.message, kLpcFlagsOffset) & 1) != 0);
        if (oneWay) {
            ++m_datagrams;
            return ProductReply(request, 0, {});
        }
        const Bytes bytes = RequestBytes(request);
        switch (MessageType(request)) {
            case kEcho:
                return ProductReply(request, 0, bytes);
            case kSized:
                return ProductReply(request, 0, Pattern(FirstWord(bytes)));
            case kDeferred: {
                CPortStandIn::Reply timedOut;
                timedOut.status = request.hasTimeout ? 0x102 : static_cast<std::int32_t>(0xC0000001);
                return timedOut;
            }
            case kDropFirst:
                return request.connections < 2 ? Dropped() : Report(request, bytes);
            case kDropAlways:
                return Dropped();
            case kResultWord:
                return ProductReply(request, FirstWord(bytes), Pattern(16));
            case kMalformed:
                return Malformed(FirstWord(bytes));
            default:
                return Report(request, bytes);
        }
    }

private:
    static CPortStandIn::Reply Dropped() {
        CPortStandIn::Reply reply;
        reply.disconnect = true;
        return reply;
    }

    CPortStandIn::Reply Report(const CPortStandIn::Request& request, const Bytes& bytes) {
        const bool alpc = m_kind == CPortStandIn::kAlpc;
        std::vector<std::uint32_t> fields(kReportFields, 0);
        fields[kDataLength] = static_cast<std::uint32_t>(DataLength(request.message));
        fields[kDataInfoOffset] = alpc ? 0 : static_cast<std::uint16_t>(Dword(request.message, 4) >> 16);
        fields[kEntry0Size] = EntrySize(request, 0);
        fields[kEntry1Size] = EntrySize(request, 1);
        fields[kCapacityField] = ReplyCapacity(request);
        fields[kViewSize] = static_cast<std::uint32_t>(request.view.size());
        fields[kViewFlags] = request.viewFlags;
        fields[kField44] = Dword(request.message, kAlpcToBufferOffset);
        fields[kRequestLength] = static_cast<std::uint32_t>(bytes.size());
        fields[kRequestChecksum] = Checksum(bytes.data(), bytes.size());
        fields[kAcceptedConnections] = static_cast<std::uint32_t>(request.connections);
        fields[kDatagrams] = m_datagrams;
        Bytes record(fields.size() * 4);
        std::memcpy(record.data(), fields.data(), record.size());
        return ProductReply(request, 0, record);
    }

    CPortStandIn::Reply Malformed(std::uint32_t which) const {
        CPortStandIn::Reply reply;
        const std::uint32_t lie = m_kind == CPortStandIn::kAlpc ? kLyingAlpcLength : kLyingLpcLength;
        switch (which) {
            case kShortMessage:
                reply.message = Bytes(kPortHeaderSize + 4, 0);
                break;
            case kLyingLength:
                reply.message = CPortStandIn::ReplyMessage(0, lie, Pattern(8));
                break;
            case kViewTooSmall:
                reply.message = CPortStandIn::ReplyMessage(0, kViewTooSmallLength, {});
                reply.view = Pattern(kSmallViewSize);
                reply.viewFlags = kAlpcReplyViewFlag;
                break;
            case kLargeWithoutView:
                reply.message = CPortStandIn::ReplyMessage(0, kLargeWithoutViewLength, {});
                break;
            case kViewWithoutFlag:
                reply.message = CPortStandIn::ReplyMessage(0, kViewWithoutFlagLength, {});
                reply.view = Pattern(kSmallViewSize);
                reply.viewFlags = kForeignViewFlag;
                break;
            default:
                reply.disconnect = true;
        }
        return reply;
    }

    CPortStandIn::Kind m_kind;
    std::uint32_t m_datagrams = 0;
};

}  // namespace

Bytes RequestBytes(const CPortStandIn::Request& request) {
    const Bytes& message = request.message;
    if (request.kind == CPortStandIn::kAlpc) {
        if (!request.view.empty()) {
            return request.view;
        }
        return Bytes(message.begin() + kAlpcDataOffset, message.end());
    }
    if (request.entries.empty()) {
        return Bytes(message.begin() + kLpcSmallDataOffset, message.end());
    }
    const CPortStandIn::Request::Entry& first = request.entries[0];
    if (first.size > 0) {
        return Bytes(first.address, first.address + first.size);
    }
    return Bytes(message.begin() + kLpcLargeDataOffset, message.end());
}

std::uint32_t MessageType(const CPortStandIn::Request& request) {
    return Dword(request.message, kLpcTypeOffset);
}

std::uint32_t ReplyCapacity(const CPortStandIn::Request& request) {
    return Dword(request.message,
                 request.kind == CPortStandIn::kAlpc ? kAlpcCapacityOffset : kLpcCapacityOffset);
}

CPortStandIn::Reply ProductReply(const CPortStandIn::Request& request, std::uint32_t result,
                                 const Bytes& bytes) {
    CPortStandIn::Reply reply;
    const std::uint32_t length = static_cast<std::uint32_t>(bytes.size());
    if (request.kind == CPortStandIn::kAlpc) {
        const bool inlined = bytes.size() <= kAlpcInlineReplyMax;
        reply.message = CPortStandIn::ReplyMessage(result, length, inlined ? bytes : Bytes());
        if (!inlined) {
            reply.view = bytes;
            reply.viewFlags = kAlpcReplyViewFlag;
        }
        return reply;
    }
    const bool inlined = bytes.size() <= kLpcReplyInlineMax;
    reply.message = CPortStandIn::ReplyMessage(result, length, inlined ? bytes : Bytes());
    if (!inlined && request.entries.size() > 1 && request.entries[1].size >= bytes.size()) {
        std::memcpy(request.entries[1].address, bytes.data(), bytes.size());
    }
    return reply;
}

CPortStandIn::Handler StandInProduct(CPortStandIn::Kind kind) {
    auto product = std::make_shared<CProduct>(kind);
    return [product](const CPortStandIn::Request& request) { return product->Handle(request); };
}

}  // namespace IpcTest
}  // namespace Zun
