#include "channel/CPixlinkChannel.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>

#include "channel/CPixlinkErrorReplyException.h"
#include "ipc/CBroadcastLayout.h"
#include "platform/PixlinkProtocol.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

namespace {

constexpr uint32_t kMessagePing = 0;
constexpr uint32_t kMessageRequest = 3;
constexpr uint32_t kStatusSuccess = 0;
constexpr uint32_t kStatusTooSmall = 5;
constexpr uint32_t kStatusAdministrator = 14;
constexpr uint32_t kStatusSuccessNoBody = 18;
constexpr uint32_t kReplyHeaderSize = 12;
const char* const kExceeded = "CPixlinkChannel: Reply buffer exeeded allowed size";

struct FreeRoom {
    void operator()(uint8_t* room) const { std::free(room); }
};
// Room for a reply larger than the first attempt allows. Zeroed, so that a product reporting more
// than it wrote never makes us read what the heap held before (earlier replies' secrets among it);
// from calloc, because large blocks come as fresh pages the system zeroes only once written: a
// product that asks for more again and again up to the bound costs what it sends, not a fill of
// every doubling (half a gigabyte on the way to 256 MiB).
using Room = std::unique_ptr<uint8_t, FreeRoom>;

Room NewRoom(uint64_t capacity) {
    Room room(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(capacity), 1)));
    if (!room) {
        throw std::bad_alloc();
    }
    return room;
}

}  // namespace

CPixlinkChannel::CPixlinkChannel()
    : m_alpc(new CPixlinkAlpcClient()), m_lpc(new CPixlinkClientNt<Platform::ULONG64>()) {
    // The ALPC client starts from a clean state; both learn the endpoint ids, and connect lazily.
    m_alpc->Close();
    if (m_alpc->Init(LocalId, RemoteId, 0) != kResultSuccess ||
        m_lpc->Init(LocalId, RemoteId, 0) != kResultSuccess) {
        throw std::runtime_error("CPixlinkChannel: PixlinkClient creation failed");
    }
}

CPixlinkChannel::~CPixlinkChannel() {
    m_alpc->Close();
    m_alpc.reset();
    m_lpc->Close();
    m_lpc.reset();
}

IPixlinkClient* CPixlinkChannel::CurrentClient() const {
    return m_legacy ? static_cast<IPixlinkClient*>(m_lpc.get()) : static_cast<IPixlinkClient*>(m_alpc.get());
}

Platform::NTSTATUS CPixlinkChannel::CurrentConnectStatus() const {
    return m_legacy ? m_lpc->LastConnectStatus() : m_alpc->LastConnectStatus();
}

std::string CPixlinkChannel::RefusalNote(Platform::NTSTATUS connectStatus) const {
    if (connectStatus != Platform::STATUS_SERVER_SID_MISMATCH) {
        return std::string();
    }
    return " (refused: the port is served by another account than " + m_serverAccount.Text() +
           "; nothing was sent)";
}

void CPixlinkChannel::SetServerAccount(const CServerAccount& account) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    m_serverAccount = account;
    m_alpc->SetServerAccount(account);
    m_lpc->SetServerAccount(account);
}

namespace {

std::string StatusText(Platform::NTSTATUS status) {
    char text[sizeof "0x00000000"];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

}  // namespace

std::string CPixlinkChannel::ConnectStatuses() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return "ALPC connect NTSTATUS " +
           StatusText(m_alpc ? m_alpc->LastConnectStatus() : Platform::STATUS_SUCCESS) +
           ", LPC connect NTSTATUS " +
           StatusText(m_lpc ? m_lpc->LastConnectStatus() : Platform::STATUS_SUCCESS);
}

bool CPixlinkChannel::IsLegacy() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_legacy;
}

bool CPixlinkChannel::Ping(std::string& error) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    m_modeDecided = true;
    uint64_t length = 0;
    uint32_t result =
        m_alpc ? m_alpc->Request(0, kMessagePing, nullptr, 0, nullptr, 0, &length, 0) : kResultNotSupported;
    if (result == kResultSuccess) {
        return true;
    }
    error += "Ping (CCCOMM_PING) failed with " + std::to_string(result) +
             RefusalNote(m_alpc ? m_alpc->LastConnectStatus() : Platform::STATUS_SUCCESS);
    result =
        m_lpc ? m_lpc->Request(0, kMessagePing, nullptr, 0, nullptr, 0, &length, 0) : kResultNotSupported;
    if (result == kResultSuccess) {
        m_legacy = true;
        return true;
    }
    if (!error.empty()) {
        error += ", ";
    }
    error += "Legacy ping (CCCOMM_PING) failed with " + std::to_string(result) +
             RefusalNote(m_lpc ? m_lpc->LastConnectStatus() : Platform::STATUS_SUCCESS);
    return false;
}

uint32_t CPixlinkChannel::SendRequest(const std::vector<uint8_t>& request, CPixlinkChannelBuffer& reply) {
    std::vector<uint8_t>& bytes = reply.Bytes();
    if (bytes.size() > MaxReplyCapacity) {
        throw std::runtime_error(kExceeded);
    }
    uint64_t capacity = bytes.empty() ? CPixlinkChannelBuffer::InitialCapacity : bytes.size();
    while (capacity <= MaxReplyCapacity) {
        Room room;
        uint8_t* into = nullptr;
        if (capacity <= CPixlinkChannelBuffer::InitialCapacity) {
            bytes.assign(capacity, 0);  // nothing of an earlier reply shows through either
            into = bytes.data();
        } else {
            room = NewRoom(capacity);
            into = room.get();
        }
        uint64_t length = 0;
        const uint32_t result = RequestLocked(request, into, capacity, length);
        if (result == kResultBufferTooSmall) {
            capacity *= 2;
            continue;
        }
        // A client never reports more than it was given room for; a reply that claims to is corrupt.
        const uint64_t kept = std::min(length, capacity);
        if (room) {
            bytes.assign(into, into + kept);
        } else {
            bytes.resize(kept);
        }
        reply.Rewind();
        uint32_t bodyLength = 0;
        if (!ReadReplyHeader(reply, bodyLength)) {
            capacity *= 2;
            continue;
        }
        return bodyLength;
    }
    throw std::runtime_error(kExceeded);
}

// Sends once under the lock. A transport failure before any ping decided the mode switches to the
// legacy port and sends again; afterwards it is reported, with the first failure appended.
uint32_t CPixlinkChannel::RequestLocked(const std::vector<uint8_t>& request, uint8_t* reply,
                                        uint64_t capacity, uint64_t& length) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    std::string nonLegacyError;
    for (;;) {
        IPixlinkClient* client = CurrentClient();
        const uint32_t result = client ? client->Request(0, kMessageRequest, request.data(), request.size(),
                                                         reply, capacity, &length, 0)
                                       : kResultNotSupported;
        if (result == kResultSuccess || result == kResultBufferTooSmall) {
            return result;
        }
        std::string message = "CPixlinkChannel: Send request failed with pixlink error " +
                              std::to_string(result) + RefusalNote(CurrentConnectStatus());
        if (!m_modeDecided) {
            m_modeDecided = true;
            m_legacy = true;
            nonLegacyError = message;
            continue;
        }
        if (!nonLegacyError.empty()) {
            message += ", Non-legacy " + nonLegacyError;
        }
        throw std::runtime_error(message);
    }
}

// False when the product says the reply did not fit; throws for error statuses.
bool CPixlinkChannel::ReadReplyHeader(CPixlinkChannelBuffer& reply, uint32_t& bodyLength) {
    uint8_t header[kReplyHeaderSize];
    reply.Read(header, sizeof header);
    CPixlinkChannelBuffer fields(std::vector<uint8_t>(header, header + sizeof header));
    const uint32_t headerSize = fields.ReadUInt32();
    const uint32_t status = fields.ReadUInt32();
    bodyLength = fields.ReadUInt32();
    if (headerSize != kReplyHeaderSize) {
        throw std::runtime_error("CPixlinkChannel: Reply header has wrong size");
    }
    switch (status) {
        case kStatusSuccess:
            return true;
        case kStatusSuccessNoBody:
            bodyLength = 0;
            return true;
        case kStatusTooSmall:
            return false;
        default:
            break;
    }
    std::string message = "CPixlinkChannel: Send request failed with " + std::to_string(status);
    if (status == kStatusAdministrator) {
        message += ", Command failed - Make sure that Agent runs with Administrator privileges.";
    }
    throw CPixlinkErrorReplyException(message, status);
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
