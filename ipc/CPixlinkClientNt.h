#pragma once

#include <atomic>
#include <cstdint>

#include "ipc/CPixlinkCommonNt.h"
#include "ipc/CPixlinkStructsNt.h"
#include "ipc/CServerAccount.h"
#include "ipc/IPixlinkClient.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

class CLpcRequestMessage;

// The legacy client over the product's LPC port. One critical section guards both its port handle
// and its broadcast area. It connects at the first request, and a request whose send fails
// reconnects and sends once more.
template <class Address>
class CPixlinkClientNt : public IPixlinkClient, public CPixlinkCommonNt, public CPixlinkStructsNt<Address> {
public:
    CPixlinkClientNt() = default;
    ~CPixlinkClientNt() override;

    std::uint32_t Init(std::uint32_t localId, std::uint32_t remoteId, std::uint32_t flags) override;
    std::uint32_t Close() override;
    std::uint32_t RequestToBuffer(std::uint32_t requestFlags, std::uint32_t messageType, const void* request,
                                  std::uint64_t requestLength, CPixlinkGrowableBuffer* reply,
                                  std::int64_t timeout) override;
    std::uint32_t Request(std::uint32_t requestFlags, std::uint32_t messageType, const void* request,
                          std::uint64_t requestLength, void* reply, std::uint64_t replyCapacity,
                          std::uint64_t* replyLength, std::int64_t timeout) override;
    std::uint32_t ReadBroadcast(std::int64_t offset, void* destination, std::uint64_t size) override;
    std::uint32_t ReadBroadcastDword(std::int64_t offset, std::uint32_t* value) override;

    // The account the port must be served by; a connection made for another account is dropped.
    void SetServerAccount(const CServerAccount& account);
    // What the last connect attempt answered: STATUS_SERVER_SID_MISMATCH when another account
    // serves the port.
    Platform::NTSTATUS LastConnectStatus() const { return m_connectStatus.load(); }

private:
    std::uint32_t Connect();
    void ClosePort();
    std::uint32_t SendOneWay(CLpcRequestMessage& message);
    Platform::NTSTATUS Exchange(Platform::PORT_MESSAGE* request, Platform::PORT_MESSAGE* reply);
    Platform::NTSTATUS ExchangeDirect(Platform::PORT_MESSAGE* request, Platform::PORT_MESSAGE* reply);
    Platform::NTSTATUS ExchangeOnWorker(Platform::PORT_MESSAGE* request, Platform::PORT_MESSAGE* reply);
    std::uint32_t ReadReply(const std::uint8_t* reply, void* buffer, std::uint64_t capacity,
                            std::uint64_t* replyLength) const;

    CServerAccount m_serverAccount;
    std::atomic<Platform::NTSTATUS> m_connectStatus{Platform::STATUS_SUCCESS};
};

extern template class CPixlinkClientNt<Platform::ULONG64>;

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
