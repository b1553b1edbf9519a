#include "tasks/CConfirmEncryptionRecoveryDataTask.h"

#include "host/CQUILProcessRecoveryDataResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

using Zun::Common::Message::Connectors::QUILConnector::CQUILProcessRecoveryDataResponse;

CConfirmEncryptionRecoveryDataTask::CConfirmEncryptionRecoveryDataTask(const ChannelPtr& channel,
                                                                       const LoggerPtr& logger,
                                                                       const FactoryPtr& factory,
                                                                       const PublisherPtr& publisher)
    : CMessageTask(CQUILProcessRecoveryDataResponse::Type),
      m_channel(channel),
      m_logger(logger),
      m_factory(factory),
      m_publisher(publisher) {}

void CConfirmEncryptionRecoveryDataTask::Execute(const MessagePtr& message) {
    const auto* answer = dynamic_cast<const CQUILProcessRecoveryDataResponse*>(message.get());
    if (answer == nullptr) {
        return;
    }
    const RecoveryDataSet confirmed = ConfirmedItems(answer->GetFDERecoveryData());
    ExchangeOrRetry(
        *m_channel,
        [this, &confirmed] { return m_factory->CreateConfirmEncryptionRecoveryDataRequest(confirmed); },
        ReceiverPtr());
}

RecoveryDataSet CConfirmEncryptionRecoveryDataTask::ConfirmedItems(
    const Zun::Common::DataDefinition::Encryption::FDERecoveryData& answer) {
    RecoveryDataSet confirmed;
    for (const auto& password : answer.recovery_passwords()) {
        if (password.has_internalid()) {
            confirmed.RecoveryPasswords.push_back({password.internalid(), "", "", ""});
        }
    }
    for (const auto& block : answer.recovery_data_blocks()) {
        if (block.has_internalid()) {
            confirmed.RecoveryData.push_back({block.internalid(), "", ""});
        }
    }
    return confirmed;
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
