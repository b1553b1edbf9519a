#include "tasks/CImportConfigurationTask.h"

#include <boost/make_shared.hpp>
#include <stdexcept>

#include "core/CErrorReplyChannelException.h"
#include "core/CRetryException.h"
#include "host/CApplyPolicy.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

using Zun::Common::Message::Policies::CApplyPolicy;

CImportConfigurationTask::CImportConfigurationTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                                   const FactoryPtr& factory)
    : CMessageTask(CApplyPolicy::Type), m_channel(channel), m_logger(logger), m_factory(factory) {}

void CImportConfigurationTask::Execute(const MessagePtr& message) {
    m_message = message;
    ApplyStoredPolicy();
}

void CImportConfigurationTask::ApplyStoredPolicy() {
    const auto* policy = dynamic_cast<const CApplyPolicy*>(m_message.get());
    if (policy == nullptr) {
        return;
    }
    try {
        const std::vector<uint8_t> request =
            m_factory->CreateImportConfigurationRequest(policy->GetConfiguration())->Serialize();
        m_channel->SetBufferReceiver(boost::make_shared<BufferReceiver>(m_logger));
        m_channel->SendRequest(request);
    } catch (const CErrorReplyChannelException& e) {
        m_logger->Log(4) << "Set policy failed: " << e.what();
    } catch (const std::runtime_error& e) {
        throw CRetryException(e.what(), true);
    }
}

void CImportConfigurationTask::BufferReceiver::Receive(const std::vector<uint8_t>&) {
    m_logger->Log(2) << "Set policy request to product was successfull";
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
