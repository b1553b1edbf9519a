#include "core/CSubscriber.h"

namespace Zun {
namespace Common {
namespace Module {

void CSubscriber::OnMessage(const boost::shared_ptr<Kernel::IMessage>& message,
                            const boost::shared_ptr<Kernel::CUserContext>& userContext) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    m_queue.push_back(Entry{message, userContext});
    m_wakeUp.notify_one();
}

bool CSubscriber::WaitForMessage(boost::shared_ptr<Kernel::IMessage>& message,
                                 boost::shared_ptr<Kernel::CUserContext>& userContext) {
    boost::unique_lock<boost::mutex> guard(m_lock);
    m_waiting = true;
    // The flag must not outlive an interruption of the wait, or Terminate would take a dead worker
    // for an idle one.
    struct ClearWaiting {
        bool& flag;
        ~ClearWaiting() { flag = false; }
    } clear{m_waiting};
    if (m_stopped) {
        m_stopped = false;
        return false;
    }
    while (m_queue.empty()) {
        m_wakeUp.wait(guard);
        if (m_stopped) {
            m_stopped = false;
            return false;
        }
    }
    TakeFront(message, userContext);
    return true;
}

bool CSubscriber::TryTakeMessage(boost::shared_ptr<Kernel::IMessage>& message,
                                 boost::shared_ptr<Kernel::CUserContext>& userContext) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (m_queue.empty()) {
        return false;
    }
    TakeFront(message, userContext);
    return true;
}

void CSubscriber::TakeFront(boost::shared_ptr<Kernel::IMessage>& message,
                            boost::shared_ptr<Kernel::CUserContext>& userContext) {
    message = std::move(m_queue.front().message);
    userContext = std::move(m_queue.front().userContext);
    m_queue.pop_front();
}

bool CSubscriber::StopIfIdle() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (!m_queue.empty() || !m_waiting) {
        return false;
    }
    m_stopped = true;
    m_wakeUp.notify_all();
    return true;
}

size_t CSubscriber::GetQueueLength() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_queue.size();
}

bool CSubscriber::DescribeQueue(std::string& text) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    text.clear();
    if (m_queue.empty()) {
        return true;
    }
    text = m_name + ":";
    for (size_t i = 0; i < m_queue.size(); ++i) {
        text += (i == 0 ? "" : ",") + m_queue[i].message->Describe();
    }
    return false;
}

void CSubscriber::ForEachQueued(const QueueVisitor& visitor) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    for (const Entry& entry : m_queue) {
        visitor(entry.message);
    }
}

}  // namespace Module
}  // namespace Common
}  // namespace Zun
