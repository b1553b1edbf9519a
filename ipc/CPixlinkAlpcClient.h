#pragma once

#include <atomic>
#include <cstdint>

#include "ipc/CAlpcExchange.h"
#include "ipc/CCriticalSection.h"
#include "ipc/CPixlinkCommonNt.h"
#include "ipc/CServerAccount.h"
#include "ipc/IPixlinkClient.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The client over the product's ALPC port. It connects at the first request; a request that fails
// in transport disconnects and runs once more. The owner calls Close before destroying it.
class CPixlinkAlpcClient : public IPixlinkClient, public CPixlinkCommonNt {
public:
    CPixlinkAlpcClient() = default;
    ~CPixlinkAlpcClient() override;

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
    bool Connect();
    void Disconnect();
    std::uint32_t Exchange(std::uint32_t requestFlags, std::uint32_t messageType, const void* request,
                           std::uint64_t requestLength, CAlpcExchange::ReplyTarget target,
                           std::int64_t timeout);
    std::uint32_t ExchangeWithRetry(std::uint32_t requestFlags, std::uint32_t messageType,
                                    const void* request, std::uint64_t requestLength,
                                    const CAlpcExchange::ReplyTarget& target, std::int64_t timeout);

    std::uint32_t m_localId = 0;
    std::uint32_t m_remoteId = 0;
    std::uint32_t m_flags = 0;
    CCriticalSection m_portLock;
    std::atomic<Platform::HANDLE> m_port{nullptr};
    CServerAccount m_serverAccount;
    std::atomic<Platform::NTSTATUS> m_connectStatus{Platform::STATUS_SUCCESS};
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
