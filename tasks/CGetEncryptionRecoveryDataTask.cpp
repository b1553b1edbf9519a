#include "tasks/CGetEncryptionRecoveryDataTask.h"

#include <boost/make_shared.hpp>

#include "bus/CQUILProcessRecoveryDataRequest.h"
#include "bus/CQUILRequest.h"
#include "messages/Base64.h"
#include "messages/CGetEncryptionRecoveryDataResponse.h"
#include "tasks/CRecoveryDescrambler.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

using Zun::Common::Message::Connectors::QUILConnector::CQUILProcessRecoveryDataRequest;
using Zun::Common::Message::Connectors::QUILConnector::CQUILRequest;

namespace {

std::string Unscramble(const std::string& base64) {
    return CRecoveryDescrambler::Descramble(DecodeBase64(base64));
}

}  // namespace

CGetEncryptionRecoveryDataTask::CGetEncryptionRecoveryDataTask(const ChannelPtr& channel,
                                                               const LoggerPtr& logger,
                                                               const FactoryPtr& factory,
                                                               const PublisherPtr& publisher)
    : CMessageTask(CQUILRequest::Type),
      m_channel(channel),
      m_logger(logger),
      m_factory(factory),
      m_publisher(publisher) {}

void CGetEncryptionRecoveryDataTask::Execute(const MessagePtr& message) {
    // Only our own query asks for recovery data; the sibling connector's request never does.
    if (QueryRequestKind(CQUILRequest::Type, message) != CQUILRequest::KindRecoveryData) {
        return;
    }
    const ReceiverPtr receiver = boost::make_shared<BufferReceiver>(m_logger, m_publisher, m_factory);
    ExchangeOrRetry(
        *m_channel, [this] { return m_factory->CreateGetEncryptionRecoveryDataRequest(); }, receiver);
}

CGetEncryptionRecoveryDataTask::BufferReceiver::BufferReceiver(const LoggerPtr& logger,
                                                               const PublisherPtr& publisher,
                                                               const FactoryPtr& factory)
    : m_logger(logger), m_publisher(publisher), m_factory(factory) {}

void CGetEncryptionRecoveryDataTask::BufferReceiver::Receive(const std::vector<uint8_t>& payload) {
    const auto reply = ParseReply<CGetEncryptionRecoveryDataResponse>(
        m_factory->CreateGetEncryptionRecoveryDataResponse(), payload);
    m_logger->Log(0) << "Encryption recovery data deserialized and ready for processing";
    const auto request = boost::make_shared<CQUILProcessRecoveryDataRequest>();
    Fill(request->MutableFDERecoveryData(), reply->GetRecoveryDataSet());
    request->SetReadOnly();
    m_publisher->Publish(request);
}

void CGetEncryptionRecoveryDataTask::BufferReceiver::Fill(FDERecoveryData& data,
                                                          const RecoveryDataSet& material) {
    for (const RecoveryPasswordRecord& record : material.RecoveryPasswords) {
        auto& entry = *data.add_recovery_passwords();
        entry.set_deviceid(record.DeviceId);
        entry.set_index(record.Index);
        entry.set_recovery_password(Unscramble(record.Value));
        entry.set_internalid(record.Uid);
    }
    for (const RecoveryDataRecord& record : material.RecoveryData) {
        auto& entry = *data.add_recovery_data_blocks();
        entry.set_deviceid(record.DeviceId);
        entry.set_recovery_data(Unscramble(record.Value));
        entry.set_internalid(record.Uid);
    }
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
