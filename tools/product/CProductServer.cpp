#include "tools/product/CProductServer.h"

#include <chrono>

#include "channel/CPixlinkChannel.h"
#include "platform/PixlinkProtocol.h"
#include "platform/PortWire.h"
#include "tools/product/CProductLog.h"
#include "tools/product/CReplyBuilder.h"
#include "tools/product/ProductConstants.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

using Connectors::Common::Pixlink::CPixlinkChannel;
using Platform::CPixlinkPortServer;
using Platform::CPortRequest;
using Platform::CPortServer;
namespace Pixlink = Connectors::Common::Pixlink;

// How often a port thread looks up from its wait to see whether it should stop.
constexpr int kReceiveSliceMs = 200;

}  // namespace

CProductServer::CProductServer(CProduct& product, CFaultPlan& faults)
    : m_product(product), m_faults(faults) {}

CProductServer::~CProductServer() {
    Stop();
}

bool CProductServer::Start(bool lpcOnly, std::string& error) {
    m_lpcOnly = lpcOnly;
    std::vector<std::uint32_t> kinds = {Platform::kPortLpc};
    if (!lpcOnly) {
        kinds.insert(kinds.begin(), Platform::kPortAlpc);
    }
    for (const std::uint32_t kind : kinds) {
        m_ports.emplace_back(
            new CPixlinkPortServer(kind, CPixlinkChannel::LocalId, CPixlinkChannel::RemoteId));
        if (!m_ports.back()->IsListening()) {
            error = "cannot listen on " +
                    CPixlinkPortServer::PortName(kind, CPixlinkChannel::LocalId, CPixlinkChannel::RemoteId);
            m_ports.clear();
            return false;
        }
    }
    for (const auto& port : m_ports) {
        CPixlinkPortServer* server = port.get();
        m_threads.emplace_back([this, server] { Serve(*server); });
    }
    return true;
}

CProductServer::Activity CProductServer::Counts() const {
    Activity activity;
    activity.Ports = m_ports.empty() ? "none" : m_lpcOnly ? "LPC" : "ALPC and LPC";
    activity.Pings = m_pings;
    activity.Requests = m_requests;
    return activity;
}

void CProductServer::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_stopLock);
        m_stopping = true;
    }
    m_stopped.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
    m_threads.clear();
    m_ports.clear();
}

void CProductServer::Serve(CPixlinkPortServer& port) {
    while (!m_stopping) {
        CPortRequest request;
        if (port.Receive(request, kReceiveSliceMs)) {
            Handle(port, request);
        }
    }
}

void CProductServer::Handle(CPixlinkPortServer& port, const CPortRequest& request) {
    if (!request.WantsReply()) {
        return;  // one-way messages are not part of this product's protocol
    }
    switch (port.MessageType(request)) {
        case kMessagePing:
            ++m_pings;
            port.Reply(request, m_faults.PingResult(), {});
            break;
        case kMessageRequest:
            ++m_requests;
            AnswerRequest(port, request);
            break;
        default:
            port.Reply(request, kStatusUnsupported, {});
    }
}

void CProductServer::AnswerRequest(CPixlinkPortServer& port, const CPortRequest& request) {
    std::vector<std::uint8_t> bytes;
    if (!port.RequestBytes(request, bytes)) {
        CProductLog::Warning("request bytes could not be read");
        port.Reply(request, kStatusBadRequest, {});
        return;
    }
    const std::optional<Fault> fault = m_faults.Take([&bytes] { return CProduct::RequestName(bytes); });
    if (fault) {
        CProductLog::Info(std::string("injecting fault ") + Fault::NameOf(fault->Type));
    }
    // A product told to stop while it hangs stops without doing what it was asked.
    if (fault && fault->Type == Fault::kHang && HangUnlessStopped(std::chrono::milliseconds(fault->HangMs))) {
        CProductLog::Info("stopping: the request held by the hang fault is dropped unanswered");
        return;
    }
    if (fault && fault->Type != Fault::kHang) {
        Misbehave(port, request, *fault, bytes);
        return;
    }
    const CProduct::Reply reply = m_product.Handle(bytes);
    port.Reply(request, 0, CReplyBuilder::Payload(reply.Status, reply.Body));
}

bool CProductServer::HangUnlessStopped(std::chrono::milliseconds hang) {
    std::unique_lock<std::mutex> lock(m_stopLock);
    return m_stopped.wait_for(lock, hang, [this] { return m_stopping.load(); });
}

void CProductServer::Misbehave(CPixlinkPortServer& port, const CPortRequest& request, const Fault& fault,
                               const std::vector<std::uint8_t>& payload) {
    const bool alpc = port.Port().Kind() == Platform::kPortAlpc;
    const std::uint32_t lie =
        static_cast<std::uint32_t>(alpc ? Pixlink::kAlpcInlineReplyMax : Pixlink::kLpcReplyInlineMax);
    std::vector<std::uint8_t> reply;
    switch (fault.Type) {
        case Fault::kStatus:
            port.Reply(request, 0, CReplyBuilder::Payload(fault.Status, ""));
            break;
        case Fault::kOversize: {
            const CProduct::Reply answer =
                m_product.Handle(payload, fault.Bytes, port.ReplyCapacity(request));
            reply = CReplyBuilder::Payload(answer.Status, answer.Body);
            reply.resize(std::max<std::size_t>(reply.size(), fault.Bytes));
            port.Reply(request, 0, reply);
            break;
        }
        case Fault::kShortMessage:
            port.Port().ReplyMessage(request, CPortServer::Message({0, 0, 0, 0}));
            break;
        case Fault::kLyingLength:
            port.Port().ReplyMessage(
                request, CPixlinkPortServer::ReplyMessage(0, lie, std::vector<std::uint8_t>(8, 0)));
            break;
        case Fault::kShortPayload:
            port.Reply(request, 0, std::vector<std::uint8_t>(5, 0));
            break;
        case Fault::kDrop:
            port.Port().Disconnect(request);
            break;
        case Fault::kHang:
            break;
    }
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
