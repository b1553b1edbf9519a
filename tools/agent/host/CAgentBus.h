#pragma once

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
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
    // Called on the bus thread before a message is delivered; returns the record's number.
    typedef std::function<int64_t(const MessagePtr&, const ContextPtr&)> Recorder;
    // Runs the recording of several messages as one unit of work (a store's transaction).
    typedef std::function<void(const std::function<void()>& recordAll)> Batch;
    // Called once the record of a message is committed.
    typedef std::function<void(const MessagePtr&, int64_t sequence)> Stored;
    // What a publisher that waits for its message to be stored may add.
    struct Hooks {
        std::function<void(int64_t sequence)> recorded;  // in the recording's unit of work
        // Before the subscribers get it. The hooks of the messages recorded together run together,
        // in one unit of work, before the first of those messages is delivered.
        std::function<void()> delivering;
    };
    // Resolves with the record's number once it is committed, or with the failure to store it.
    typedef std::shared_future<int64_t> Receipt;
    // The agent's bookkeeping for a message that a publisher announces (see TakeNotices).
    typedef std::function<void(const MessagePtr&)> Notice;

    CAgentBus(Recorder recorder, Common::Kernel::ILoggerResource& logger, Batch batch = Batch(),
              Stored stored = Stored());
    ~CAgentBus() override;

    // Queues the message; a message of a type given to TakeNotices is noted instead.
    void Publish(const MessagePtr& message, const ContextPtr& userContext) override;
    // Messages of the type are announcements to the agent, not data: never recorded nor delivered.
    // Publishing one runs the notice at once on the publisher's thread, which goes on once it returns:
    // a notice must be quick and must not wait for the bus. Call before Start.
    void TakeNotices(Common::Kernel::MessageType type, Notice notice);
    // Publish, with a receipt for the record. A message that cannot be stored is not delivered.
    Receipt PublishRecorded(const MessagePtr& message, const ContextPtr& userContext, Hooks hooks);
    // One message of several that arrived together.
    struct Publication {
        MessagePtr message;
        ContextPtr userContext;
        Hooks hooks;
    };
    // PublishRecorded for messages that arrived together: they are queued at once, so that they are
    // recorded in one unit of work (as far as the batch bound allows) and delivered in this order.
    // One receipt per message, in the same order.
    std::vector<Receipt> PublishAllRecorded(std::vector<Publication> publications);
    // Delivers a message recorded before (a task stored by an earlier run) without recording it again.
    void Redeliver(const MessagePtr& message, const ContextPtr& userContext,
                   std::function<void()> delivering);
    void Subscribe(const SubscriberPtr& subscriber, Common::Kernel::MessageType type) override;
    // Runs work on the bus thread inside the unit of work of the next messages it records (or in one
    // of its own when none come within a few milliseconds), for bookkeeping that may reach the disk a
    // little later without holding up the publisher. Once the bus has stopped, work runs at once on the
    // caller's thread.
    void Defer(std::function<void()> work);

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
        bool record = true;
        Hooks hooks;
        std::shared_ptr<std::promise<int64_t>> receipt;
        int64_t sequence = -1;  // once recorded
        bool failed = false;
    };

    // Work for the bus thread's next unit of work.
    struct Deferred {
        std::function<void()> work;
    };

    void Enqueue(Envelope envelope);
    void Enqueue(std::vector<Envelope> envelopes);
    void Run();
    void RecordAll(std::vector<Envelope>& envelopes, std::vector<Deferred>& deferred);
    void Record(Envelope& envelope);
    void Settle(std::vector<Envelope>& envelopes, const std::string& batchFailure);
    void HandOver(std::vector<Envelope>& envelopes);
    static bool Deliverable(const Envelope& envelope);
    void Deliver(const Envelope& envelope);
    std::vector<SubscriberPtr> SubscribersOf(Common::Kernel::MessageType type);
    void Warn(const std::string& text);

    Recorder m_recorder;
    Common::Kernel::ILoggerResource& m_logger;
    Batch m_batch;
    Stored m_stored;
    boost::mutex m_lock;
    boost::condition_variable m_changed;
    std::deque<Envelope> m_queue;
    std::vector<Deferred> m_deferred;
    std::map<Common::Kernel::MessageType, Notice> m_notices;
    bool m_busy = false;
    int m_idleWaiters = 0;             // callers of WaitIdle
    bool m_waitingForCompany = false;  // the bus thread waits out kDeferredWait
    bool m_running = false;
    bool m_stopping = false;
    std::map<Common::Kernel::MessageType, std::vector<SubscriberPtr>> m_subscribers;
    boost::thread m_thread;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
