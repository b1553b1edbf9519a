#pragma once

#include <cstdint>
#include <vector>

#include "ipc/CPixlinkGrowableBuffer.h"
#include "platform/NtTypes.h"
#include "platform/PixlinkProtocol.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// One request and reply over a connected ALPC port, with everything it allocates: the message
// buffers, the attribute buffers and, for a request too large to travel inline, the port section
// and its view. All of it is released when the exchange ends.
class CAlpcExchange {
public:
    // Where the reply goes: a caller's buffer, a growable buffer, or nowhere (one-way message).
    struct ReplyTarget {
        bool oneWay;
        bool toBuffer;  // RequestToBuffer: the product learns that any reply size is fine
        void* buffer;
        std::uint64_t capacity;
        std::uint64_t* length;
        CPixlinkGrowableBuffer* growable;
    };

    explicit CAlpcExchange(Platform::HANDLE port) : m_port(port) {}
    ~CAlpcExchange();
    CAlpcExchange(const CAlpcExchange&) = delete;
    CAlpcExchange& operator=(const CAlpcExchange&) = delete;

    // Runs the exchange and returns its result code (or the product's result word).
    std::uint32_t Run(std::uint32_t messageType, const void* request, std::uint64_t requestLength,
                      const ReplyTarget& target, std::int64_t timeout);

private:
    bool PrepareReceiveAttributes();
    bool BuildRequest(std::uint32_t messageType, const void* request, std::uint64_t requestLength,
                      const ReplyTarget& target);
    bool AttachSection(const void* request, std::uint64_t requestLength);
    Platform::NTSTATUS SendWaitReceive(bool wantReply, std::int64_t timeout);
    std::uint32_t ReadReply(const ReplyTarget& target);
    const std::uint8_t* ReplyBytes(std::uint32_t length);
    void Release();

    static bool AllocateAttributes(std::vector<std::uint8_t>& buffer);
    static Platform::ALPC_MESSAGE_ATTRIBUTES* Attributes(std::vector<std::uint8_t>& buffer);
    Platform::ALPC_DATA_VIEW_ATTR* ReceivedView();

    Platform::HANDLE m_port;
    Platform::ALPC_HANDLE m_section = nullptr;
    void* m_sendView = nullptr;
    std::vector<std::uint8_t> m_sendAttributes;
    std::vector<std::uint8_t> m_receiveAttributes;
    alignas(8) std::uint8_t m_request[kAlpcMessageSize];
    alignas(8) std::uint8_t m_reply[kAlpcMessageSize];
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
