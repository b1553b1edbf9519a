#pragma once

#include <Poco/JSON/Object.h>
#include <boost/thread/mutex.hpp>
#include <cstdint>
#include <functional>
#include <string>

#include "host/ILoggerResource.h"

namespace Zun {
namespace Tools {
namespace Agent {

// What `quil-agent status` reports: whether the module reaches the product, where it looked, the
// last failed ping and the last error. It is the logger the module is given: every line goes on to
// the agent's log, and the module's own fixed texts tell when the product is missing or stops
// answering. The messages the agent stores tell when the module connected.
//
// When the product goes missing (not installed, or pings failing after a connection) the agent must
// say so where the last protection status said "all clear": `lost` is called once per such change,
// outside any lock, with the reason.
class CAgentStatus : public Common::Kernel::ILoggerResource {
public:
    enum class Product { Starting, Connected, NotInstalled, NotReachable };
    typedef std::function<void(const std::string& reason)> LostHandler;

    CAgentStatus(Common::Kernel::ILoggerResource& log, std::string location, LostHandler lost);

    void Write(const std::string& text, int level, const std::string& sourceName) override;
    // A stored message of the module, its type and its content as the store keeps it.
    void Observe(uint32_t type, const std::string& content);
    Product State() const;
    // The report for `status`, with the tasks the module has not finished yet.
    Poco::JSON::Object::Ptr Report(std::size_t unfinishedTasks) const;

    static std::string Name(Product product);

private:
    void Lost(Product product, const std::string& reason);

    Common::Kernel::ILoggerResource& m_log;
    std::string m_location;
    LostHandler m_lost;
    mutable boost::mutex m_lock;
    Product m_product = Product::Starting;
    std::string m_since;
    std::string m_reason;
    std::string m_lastPingFailure;
    std::string m_lastError;
    std::string m_lastErrorTime;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
