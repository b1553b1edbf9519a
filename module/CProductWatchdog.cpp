#include "module/CProductWatchdog.h"

#include <boost/make_shared.hpp>
#include <boost/thread/thread.hpp>

#include "bus/CQUILRequest.h"

namespace Zun {
namespace Connectors {
namespace QUILConnector {

namespace {

// Broadcast identifiers and the request kinds that announce their changes, paired by position.
const uint32_t kBroadcastIds[] = {2, 4, 8, 9};
const uint32_t kRequestKinds[] = {0, 1, 2, 3};
const char* const kPingsAnsweredAgain = "Ping answered again after failed pings";

}  // namespace

void CProductWatchdog::Run() {
    for (;;) {
        try {
            RunCycle();
        } catch (const std::exception& e) {
            // The bus refused a request; the next cycle announces what is still pending.
            m_logger.Log(4) << "Error during checking for new broadcast messages: " << e.what();
        }
        boost::this_thread::sleep_until(boost::chrono::steady_clock::now() + m_period);
    }
}

void CProductWatchdog::RunCycle() {
    boost::this_thread::interruption_point();
    std::string error;
    if (!m_channel.PingProduct(error)) {
        m_logger.Log(3) << "Ping failed -> connector will be restarted: " << error;
        m_pingFailing = true;
        Announce(0);
    } else if (m_pingFailing) {
        // Nothing else tells the host that a product which kept answering requests but not pings
        // is whole again: without this line it could only guess from cycles that stayed quiet.
        m_logger.Log(0) << kPingsAnsweredAgain;
        m_pingFailing = false;
    }
    for (size_t i = 0; i < sizeof kBroadcastIds / sizeof kBroadcastIds[0]; ++i) {
        try {
            CheckBroadcast(kBroadcastIds[i], kRequestKinds[i]);
        } catch (const std::exception& e) {
            m_logger.Log(4) << "Error during checking for new broadcast messages: " << e.what();
        }
    }
}

void CProductWatchdog::CheckBroadcast(uint32_t id, uint32_t requestKind) {
    const uint32_t last = m_channel.GetLastValue(id);
    const uint32_t value = m_channel.ReadBroadcast(id);
    if (value != last) {
        m_channel.SetLastValue(id, value);
        Announce(requestKind);
    }
}

void CProductWatchdog::Announce(uint32_t requestKind) {
    auto request = boost::make_shared<Zun::Common::Message::Connectors::QUILConnector::CQUILRequest>();
    request->SetRequestKind(requestKind);
    request->SetReadOnly();
    m_publisher.Publish(request);
}

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Zun
