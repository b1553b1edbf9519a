#pragma once

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <deque>
#include <string>

#include "host/ISubscriber.h"

namespace Zun {
namespace Common {
namespace Module {

// The module's queue of bus messages: host threads append, the one worker takes them in order.
class CSubscriber : public Kernel::ISubscriber {
public:
    explicit CSubscriber(std::string name) : m_name(std::move(name)) {}

    void OnMessage(const boost::shared_ptr<Kernel::IMessage>& message,
                   const boost::shared_ptr<Kernel::CUserContext>& userContext) override;
    bool DescribeQueue(std::string& text) override;
    void ForEachQueued(const QueueVisitor& visitor) override;

    // Waits (interruptibly) for the next message; false once Stop was seen.
    bool WaitForMessage(boost::shared_ptr<Kernel::IMessage>& message,
                        boost::shared_ptr<Kernel::CUserContext>& userContext);
    bool TryTakeMessage(boost::shared_ptr<Kernel::IMessage>& message,
                        boost::shared_ptr<Kernel::CUserContext>& userContext);
    // Stops the waiting worker, but only when it is idle: nothing queued and inside WaitForMessage.
    bool StopIfIdle();
    size_t GetQueueLength();

private:
    struct Entry {
        boost::shared_ptr<Kernel::IMessage> message;
        boost::shared_ptr<Kernel::CUserContext> userContext;
    };

    void TakeFront(boost::shared_ptr<Kernel::IMessage>& message,
                   boost::shared_ptr<Kernel::CUserContext>& userContext);

    std::string m_name;
    boost::mutex m_lock;
    boost::condition_variable m_wakeUp;
    std::deque<Entry> m_queue;
    bool m_stopped = false;
    bool m_waiting = false;
};

}  // namespace Module
}  // namespace Common
}  // namespace Zun
