#pragma once

#include <boost/chrono.hpp>
#include <boost/shared_ptr.hpp>

#include "channel/CPixlinkChannel.h"
#include "channel/IChannel.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The channel interface the tasks use, on top of the transport core.
class CPixlinkChannelAdapter : public IChannel, public CPixlinkChannel {
public:
    static constexpr int StartAttempts = 60;

    CPixlinkChannelAdapter() = default;

    // Pings up to 60 times, a second apart (interruptibly), before it gives up.
    void Start() override;
    void SendRequest(const std::vector<uint8_t>& request) override;
    void SetBufferReceiver(const boost::shared_ptr<IBufferReceiver>& receiver) override {
        m_receiver = receiver;
    }
    void Stop() override {}

protected:
    // Test seam: a shorter pause between the pings of Start.
    explicit CPixlinkChannelAdapter(boost::chrono::milliseconds pingPause) : m_pingPause(pingPause) {}

private:
    boost::chrono::milliseconds m_pingPause{1000};
    boost::shared_ptr<IBufferReceiver> m_receiver;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
