#include "tests/ipc/TestProduct.h"

#include <cstring>

#include "platform/PixlinkProtocol.h"
#include "tests/ipc/IpcTestSupport.h"

namespace Zun {
namespace IpcTest {

using Platform::CPixlinkPortServer;
using Platform::CPortRequest;
using Platform::CPortServer;

CTestProduct::CTestProduct(std::uint32_t kind) : m_kind(kind), m_server(kind, kLocalId, kRemoteId) {}

void CTestProduct::Serve() {
    if (!m_server.IsListening()) {
        return;
    }
    CServerProcess::Ready();
    for (;;) {
        CPortRequest request;
        if (m_server.Receive(request, -1)) {
            Handle(request);
        }
    }
}

void CTestProduct::Handle(const CPortRequest& request) {
    const bool oneWay =
        !request.WantsReply() || (m_kind == Platform::kPortLpc && (request.Dword(44) & 1) != 0);
    if (oneWay) {
        ++m_datagrams;
        if (request.WantsReply()) {
            m_server.Reply(request, 0, {});
        }
        return;
    }
    std::vector<std::uint8_t> bytes;
    m_server.RequestBytes(request, bytes);
    if (m_holding) {
        m_server.Reply(m_held, 0, Pattern(4, 0xEE));
        m_holding = false;
    }
    switch (m_server.MessageType(request)) {
        case kEcho:
            m_server.Reply(request, 0, bytes);
            break;
        case kSized:
            m_server.Reply(request, 0, Pattern(FirstWord(bytes)));
            break;
        case kDeferred:
            m_held = request;
            m_holding = true;
            break;
        case kDropFirst:
            if (m_server.Port().AcceptedConnections() < 2) {
                m_server.Port().Disconnect(request);
            } else {
                Report(request, bytes);
            }
            break;
        case kDropAlways:
            m_server.Port().Disconnect(request);
            break;
        case kResultWord:
            m_server.Reply(request, FirstWord(bytes), Pattern(16));
            break;
        case kMalformed:
            Malformed(request, FirstWord(bytes));
            break;
        default:
            Report(request, bytes);
    }
}

void CTestProduct::Report(const CPortRequest& request, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint32_t> fields(kReportFields, 0);
    fields[kDataLength] = request.DataLength();
    fields[kDataInfoOffset] = request.DataInfoOffset();
    fields[kEntry0Size] = request.DataEntrySize(0);
    fields[kEntry1Size] = request.DataEntrySize(1);
    fields[kCapacityField] = m_server.ReplyCapacity(request);
    fields[kViewSize] = static_cast<std::uint32_t>(request.View().size());
    fields[kViewFlags] = request.ViewFlags();
    fields[kField44] = request.Dword(44);
    fields[kRequestLength] = static_cast<std::uint32_t>(bytes.size());
    fields[kRequestChecksum] = Checksum(bytes.data(), bytes.size());
    fields[kAcceptedConnections] = static_cast<std::uint32_t>(m_server.Port().AcceptedConnections());
    fields[kDatagrams] = m_datagrams;
    std::vector<std::uint8_t> record(fields.size() * 4);
    std::memcpy(record.data(), fields.data(), record.size());
    m_server.Reply(request, 0, record);
}

void CTestProduct::Malformed(const CPortRequest& request, std::uint32_t which) {
    CPortServer& port = m_server.Port();
    const std::uint32_t lie = m_kind == Platform::kPortAlpc ? 60000 : 600;
    const std::vector<std::uint8_t> view = Pattern(66000);
    std::vector<std::uint8_t> message;
    switch (which) {
        case kShortMessage:
            port.ReplyMessage(request, CPortServer::Message(Words({0})));
            break;
        case kLyingLength:
            port.ReplyMessage(request, CPixlinkPortServer::ReplyMessage(0, lie, Pattern(8)));
            break;
        case kViewTooSmall:
            port.ReplyMessage(request, CPixlinkPortServer::ReplyMessage(0, 70000, {}), &view, 0x40000);
            break;
        case kLargeWithoutView:
            port.ReplyMessage(request, CPixlinkPortServer::ReplyMessage(0, 65488, {}));
            break;
        case kViewWithoutFlag:
            port.ReplyMessage(request, CPixlinkPortServer::ReplyMessage(0, 65500, {}), &view, 0x20000);
            break;
        case kInconsistentHeader:
            message = CPixlinkPortServer::ReplyMessage(0, 4, Pattern(4));
            message[2] = static_cast<std::uint8_t>(message[2] + 8);
            port.ReplyMessage(request, message);
            break;
    }
}

}  // namespace IpcTest
}  // namespace Zun
