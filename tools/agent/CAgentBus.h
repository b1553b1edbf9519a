#pragma once

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "host/IBusResource.h"
#include "host/ILoggerResource.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The agent's message bus. Publish only queues; one bus thread records each message and then
// delivers it once to each subscriber of its type, however often that subscriber subscribed to
// it. Publishers therefore never run a subscriber's code on their own thread, where they may hold
// locks that the subscriber needs. Messages that queued up meanwhile are recorded together, in one
// run of the batch function, before they are delivered in order.
class CAgentBus : public Common::Kernel::IBusResource {
public:
    typedef boost::shared_ptr<Common::Kernel::IMessage> MessagePtr;
    typedef boost::shared_ptr<Common::Kernel::CUserContext> ContextPtr;
    typedef boost::shared_ptr<Common::Kernel::ISubscriber> SubscriberPtr;
    // Called on the bus thread before a message is delivered.
    typedef std::function<void(const MessagePtr&, const ContextPtr&)> Recorder;
    // Runs the recording of several messages as one unit of work (a store's transaction).
    typedef std::function<void(const std::function<void()>& recordAll)> Batch;

    CAgentBus(Recorder recorder, Common::Kernel::ILoggerResource& logger, Batch batch = Batch());
    ~CAgentBus() override;

    void Publish(const MessagePtr& message, const ContextPtr& userContext) override;
    void Subscribe(const SubscriberPtr& subscriber, Common::Kernel::MessageType type) override;

    void Start();
    // Records and delivers everything queued, then ends the bus thread. Later publications are
    // dropped with a warning.
    void Stop();
    // Lets go of every subscriber, so that nothing of an unloaded module is kept.
    void DropSubscribers();
    // Waits until everything published so far has been delivered; false on time-out.
    bool WaitIdle(boost::chrono::milliseconds timeout);

private:
    struct Envelope {
        MessagePtr message;
        ContextPtr userContext;
    };

    void Run();
    void RecordAll(const std::vector<Envelope>& envelopes);
    void Record(const Envelope& envelope);
    void Deliver(const Envelope& envelope);
    std::vector<SubscriberPtr> SubscribersOf(Common::Kernel::MessageType type);
    void Warn(const std::string& text);

    Recorder m_recorder;
    Common::Kernel::ILoggerResource& m_logger;
    Batch m_batch;
    boost::mutex m_lock;
    boost::condition_variable m_changed;
    std::deque<Envelope> m_queue;
    bool m_busy = false;
    bool m_running = false;
    bool m_stopping = false;
    std::map<Common::Kernel::MessageType, std::vector<SubscriberPtr>> m_subscribers;
    boost::thread m_thread;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
