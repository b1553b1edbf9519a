#pragma once

#include <boost/shared_ptr.hpp>
#include <vector>

#include "channel/IBufferReceiver.h"
#include "core/CMessageTask.h"
#include "core/ILogger.h"
#include "tasks/TaskExchange.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// Applies a policy (message 188) by importing its configuration into the product. The last policy
// is kept so that every new connection can apply it again: the product may have restarted without it.
class CImportConfigurationTask : public CMessageTask {
public:
    typedef boost::shared_ptr<ILogger> LoggerPtr;

    class BufferReceiver : public IBufferReceiver {
    public:
        explicit BufferReceiver(const LoggerPtr& logger) : m_logger(logger) {}
        void Receive(const std::vector<uint8_t>& payload) override;

    private:
        LoggerPtr m_logger;
    };

    CImportConfigurationTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory);

    void Execute(const MessagePtr& message) override;

    // Sends the stored policy; does nothing without one. A policy the product rejects is logged
    // and counts as done, since sending it again would be rejected again. Any other runtime
    // failure is a link problem: CRetryException with the restart flag, so the policy is retried
    // after every reconnect until it gets through.
    void ApplyStoredPolicy();

private:
    ChannelPtr m_channel;
    LoggerPtr m_logger;
    MessagePtr m_message;
    FactoryPtr m_factory;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
