#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>

#include "host/IMessage.h"

namespace Zun {
namespace Connectors {
namespace Common {

// Base of every task: the bus message type it serves and a cancelled flag.
class CMessageTask {
public:
    explicit CMessageTask(int32_t messageType) : m_messageType(messageType) {}
    virtual ~CMessageTask() = default;

    // Runs the task for one bus message; throws CRetryException when the product link failed.
    virtual void Execute(const boost::shared_ptr<Zun::Common::Kernel::IMessage>& message) = 0;
    virtual void Cancel() { m_cancelled = true; }

    int32_t GetMessageType() const { return m_messageType; }
    bool IsCancelled() const { return m_cancelled; }

private:
    int32_t m_messageType;
    bool m_cancelled = false;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
