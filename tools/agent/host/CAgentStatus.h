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
//
// A product that stops answering pings may still answer requests, so its answers prove nothing about
// the pings: after failed pings only the module's line that a ping was answered again, or a new
// connection, takes the product back as connected; the next watchdog cycle after the product's
// return brings either.
class CAgentStatus : public Common::Kernel::ILoggerResource {
public:
    enum class Product { Starting, Connected, NotInstalled, NotReachable };
    enum class Evidence { None, Answered, NotReachable, NotInstalled };
    // What a stored row (type, content) alone says about the product: read newest first, the first
    // row with evidence tells its state where the agent's own view is not at hand (the server's).
    static Evidence EvidenceOf(uint32_t type, const std::string& content);
    typedef std::function<void(const std::string& reason)> LostHandler;

    CAgentStatus(Common::Kernel::ILoggerResource& log, std::string location, LostHandler lost);

    void Write(const std::string& text, int level, const std::string& sourceName) override;
    // A stored message of the module, its type and its content as the store keeps it.
    void Observe(uint32_t type, const std::string& content);
    Product State();
    // The report for `status`, with the tasks the module has not finished yet.
    Poco::JSON::Object::Ptr Report(std::size_t unfinishedTasks);

    static std::string Name(Product product);

private:
    void Lost(Product product, const std::string& reason);
    // With the lock held: the product answers again.
    void Connected();

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
