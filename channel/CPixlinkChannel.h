#pragma once

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/CPixlinkChannelBuffer.h"
#include "ipc/CPixlinkAlpcClient.h"
#include "ipc/CPixlinkClientNt.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The transport-facing core of the product channel: frames requests and replies, chooses between
// the ALPC port and the legacy LPC port, grows the reply buffer, pings the product and reads its
// broadcast values. One lock serialises every use of the clients and of the broadcast caches.
class CPixlinkChannel {
public:
    static constexpr uint32_t LocalId = 0x61464445;
    static constexpr uint32_t RemoteId = 0x31464445;
    static constexpr uint64_t MaxReplyCapacity = 268435456;
    static constexpr uint32_t QServerBroadcast = 10;

    CPixlinkChannel();
    ~CPixlinkChannel();
    CPixlinkChannel(const CPixlinkChannel&) = delete;
    CPixlinkChannel& operator=(const CPixlinkChannel&) = delete;

    // Appends what failed to `error`.
    bool Ping(std::string& error);
    // Leaves the whole reply payload in `reply`, read position after the reply header, and returns
    // the body length (0 for status 18). Throws on failure.
    uint32_t SendRequest(const std::vector<uint8_t>& request, CPixlinkChannelBuffer& reply);
    // Ids 0 to 9 are the plain broadcast values, 10 the server module's value. Throws on failure.
    uint32_t GetBroadcast(uint32_t id);

    bool IsLegacy();
    // What the last connect of each port answered, for the trace log: "ALPC connect NTSTATUS
    // 0xC0000034, LPC connect NTSTATUS 0xC0000034" (0x00000000 for a port never refused).
    std::string ConnectStatuses();

    // The account that must serve the product's ports (LocalSystem unless set); both clients refuse
    // a port served by anyone else before they send anything.
    void SetServerAccount(const CServerAccount& account);

private:
    IPixlinkClient* CurrentClient() const;
    // Why the last request of a client never reached the product, or nothing.
    std::string RefusalNote(Platform::NTSTATUS connectStatus) const;
    Platform::NTSTATUS CurrentConnectStatus() const;
    uint32_t RequestLocked(const std::vector<uint8_t>& request, uint8_t* reply, uint64_t capacity,
                           uint64_t& length);
    static bool ReadReplyHeader(CPixlinkChannelBuffer& reply, uint32_t& bodyLength);
    uint32_t ReadDword(int64_t offset, const char* failure);
    int64_t ModuleField(int64_t index, int64_t field);
    uint32_t ReadServerValue();
    bool FindServerModule();

    boost::mutex m_lock;
    std::unique_ptr<CPixlinkAlpcClient> m_alpc;
    bool m_modeDecided = false;
    bool m_legacy = false;
    std::unique_ptr<CPixlinkClientNt<Platform::ULONG64>> m_lpc;
    uint32_t m_moduleTableOffset = 0;
    bool m_serverModulePresent = true;
    int32_t m_serverModuleIndex = -1;
    uint32_t m_userDataTimestamp = 0;
    uint32_t m_serverValue = 0xFFFFFFFF;
    CServerAccount m_serverAccount;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
