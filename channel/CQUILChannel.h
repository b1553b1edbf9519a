#pragma once

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <map>

#include "channel/CPixlinkChannelAdapter.h"
#include "channel/IWatchedChannel.h"

namespace Zun {
namespace Connectors {
namespace QUILConnector {

// The product channel of the QUIL module. It also keeps the last broadcast values the watchdog
// saw, so that they survive reconnects and watchdog restarts.
class CQUILChannel : public Common::Pixlink::CPixlinkChannelAdapter, public Common::IWatchedChannel {
public:
    static constexpr uint32_t UnknownValue = 0xFFFFFFFF;

    CQUILChannel() = default;

    bool PingProduct(std::string& error) override { return Ping(error); }
    uint32_t ReadBroadcast(uint32_t id) override { return GetBroadcast(id); }
    uint32_t GetLastValue(uint32_t id) override;
    void SetLastValue(uint32_t id, uint32_t value) override;

protected:
    explicit CQUILChannel(boost::chrono::milliseconds pingPause) : CPixlinkChannelAdapter(pingPause) {}

private:
    boost::mutex m_valuesLock;
    std::map<uint32_t, uint32_t> m_lastValues;
};

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Zun
