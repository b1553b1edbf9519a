// The connector module as the end-to-end tests load it: the production module with its waits
// shortened (reconnect, watchdog period, pause between start pings), registered under the same
// class name. Only tests build and load this library. A test that measures in watchdog periods
// sets its own period in QUIL_TESTING_WATCHDOG_MS.
#include <Poco/ClassLibrary.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>

#include "channel/CQUILChannel.h"
#include "host/IModule.h"
#include "module/CQUILConnectorModule.h"

namespace {

const int64_t kWatchdogPeriodMs = 100;

boost::chrono::milliseconds WatchdogPeriod() {
    const char* const period = getenv("QUIL_TESTING_WATCHDOG_MS");
    return boost::chrono::milliseconds(period != nullptr ? atoll(period) : kWatchdogPeriodMs);
}

class CQuickChannel : public Zun::Connectors::QUILConnector::CQUILChannel {
public:
    CQuickChannel() : CQUILChannel(boost::chrono::milliseconds(20)) {}
};

class CQuickConnectorModule : public Zun::Connectors::QUILConnector::CQUILConnectorModule {
public:
    CQuickConnectorModule() : CQuickConnectorModule(boost::make_shared<CQuickChannel>()) {}

private:
    explicit CQuickConnectorModule(const boost::shared_ptr<CQuickChannel>& channel)
        : CQUILConnectorModule(200, WatchdogPeriod(), channel, channel) {}
};

}  // namespace

POCO_BEGIN_MANIFEST(Zun::Common::Kernel::IModule)
POCO_EXPORT_INTERFACE(CQuickConnectorModule, "Zun::Connectors::QUILConnector::CConnectorModule")
POCO_END_MANIFEST
