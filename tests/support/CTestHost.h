#pragma once

#include <boost/make_shared.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/IBusResource.h"
#include "host/IConfigurationResource.h"
#include "host/IIdGeneratorResource.h"
#include "host/IInstallConfigurationResource.h"
#include "host/ILoggerResource.h"

namespace Zun {
namespace Testing {

// What tests wait for: every check runs under the host's lock and is retried on each change
// until it holds or the deadline passes.
class CTestHost : public Common::Kernel::IResourceProvider {
public:
    struct Published {
        boost::shared_ptr<Common::Kernel::IMessage> message;
        boost::shared_ptr<Common::Kernel::CUserContext> userContext;
    };
    struct Line {
        std::string text;
        int level;
        std::string source;
    };

    CTestHost();
    ~CTestHost() override;

    // From now on, published messages also go back to the subscribers of their type, on a
    // delivery thread of their own, as the agent's bus does.
    void EnableLoopback();

    boost::shared_ptr<Common::Kernel::IResource> GetResource(int number) override;
    // Removes a resource so that the module sees it missing.
    void Drop(int number) { m_resources.erase(number); }

    // Waits until `done` holds; false on time-out.
    bool WaitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

    std::vector<Published> PublishedOfType(Common::Kernel::MessageType type);
    // The types of everything published so far, in publication order.
    std::vector<Common::Kernel::MessageType> PublishedTypes();
    size_t CountPublished(Common::Kernel::MessageType type);
    std::vector<Line> Lines();
    size_t CountLines(const std::string& text, int level);
    std::multimap<Common::Kernel::MessageType, boost::shared_ptr<Common::Kernel::ISubscriber>>
    Subscriptions();

    // Delivers a message to every subscriber of its type, as the bus would.
    void Deliver(const boost::shared_ptr<Common::Kernel::IMessage>& message,
                 const boost::shared_ptr<Common::Kernel::CUserContext>& userContext =
                     boost::shared_ptr<Common::Kernel::CUserContext>());

    static const char* InstanceUUID() { return "0f8fad5b-d9cb-469f-a165-70867728950e"; }

private:
    class Bus;
    class Logger;
    friend class Bus;
    friend class Logger;

    boost::mutex m_lock;
    boost::condition_variable m_changed;
    std::vector<Published> m_published;
    std::vector<Line> m_lines;
    std::multimap<Common::Kernel::MessageType, boost::shared_ptr<Common::Kernel::ISubscriber>>
        m_subscriptions;
    std::map<int, boost::shared_ptr<Common::Kernel::IResource>> m_resources;
    std::deque<boost::shared_ptr<Common::Kernel::IMessage>> m_deliveries;
    bool m_loopback = false;
    bool m_stopping = false;
    boost::thread m_deliverer;
};

}  // namespace Testing
}  // namespace Zun
