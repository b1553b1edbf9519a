#pragma once

#include <boost/chrono.hpp>

#include "channel/IWatchedChannel.h"
#include "core/ILogger.h"
#include "core/IMessagePublisher.h"

namespace Zun {
namespace Connectors {
namespace QUILConnector {

// Watches the product while the module is connected: pings it and compares four broadcast values
// with those seen before, and announces each finding as a QUIL request on the bus, which brings
// it back to the worker's query tasks.
class CProductWatchdog {
public:
    static constexpr boost::chrono::nanoseconds Period{10000000000LL};

    CProductWatchdog(Common::IWatchedChannel& channel, Zun::Common::Module::IMessagePublisher& publisher,
                     Common::ILogger& logger, boost::chrono::nanoseconds period = Period)
        : m_channel(channel), m_publisher(publisher), m_logger(logger), m_period(period) {}

    // The thread body: cycles until the thread is interrupted.
    void Run();
    void RunCycle();

private:
    void Announce(uint32_t requestKind);
    void CheckBroadcast(uint32_t id, uint32_t requestKind);

    Common::IWatchedChannel& m_channel;
    Zun::Common::Module::IMessagePublisher& m_publisher;
    Common::ILogger& m_logger;
    boost::chrono::nanoseconds m_period;
    bool m_pingFailing = false;  // the last ping of this connection failed
};

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Zun
