#include "tasks/CGetEncryptionStorageStatusTask.h"

#include <boost/make_shared.hpp>

#include "bus/CQUILRequest.h"
#include "logs/CStatusLog.h"
#include "messages/CGetStatusResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

using Zun::Common::Message::Connectors::QUILConnector::CQUILRequest;
using Zun::Common::Message::Logs::CStatusLog;

namespace {

// Only this product's status document carries the storage record.
const int64_t StorageProductId = 0x071000000000081BLL;
const int64_t StorageInOrder = 0x120000FD;

}  // namespace

CGetEncryptionStorageStatusTask::CGetEncryptionStorageStatusTask(
    const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory,
    const PublisherPtr& publisher, const InstanceUUIDPtr& instance, uint32_t /*productCode*/,
    int64_t connectorProductId, int32_t messageType)
    : CMessageTask(messageType),
      m_channel(channel),
      m_logger(logger),
      m_factory(factory),
      m_publisher(publisher),
      m_instance(instance),
      m_connectorProductId(connectorProductId) {}

void CGetEncryptionStorageStatusTask::Execute(const MessagePtr& message) {
    if (QueryRequestKind(GetMessageType(), message) != CQUILRequest::KindStatus) {
        return;
    }
    const ReceiverPtr receiver = boost::make_shared<BufferReceiver>(m_logger, m_publisher, m_instance,
                                                                    m_factory, m_connectorProductId);
    ExchangeOrRetry(
        *m_channel, [this] { return m_factory->CreateGetStatusRequest(); }, receiver);
}

CGetEncryptionStorageStatusTask::BufferReceiver::BufferReceiver(const LoggerPtr& logger,
                                                                const PublisherPtr& publisher,
                                                                const InstanceUUIDPtr& instance,
                                                                const FactoryPtr& factory,
                                                                int64_t connectorProductId)
    : m_logger(logger),
      m_publisher(publisher),
      m_instance(instance),
      m_factory(factory),
      m_connectorProductId(connectorProductId) {}

void CGetEncryptionStorageStatusTask::BufferReceiver::Receive(const std::vector<uint8_t>& payload) {
    const auto reply = ParseReply<CGetStatusResponse>(m_factory->CreateGetStatusResponse(), payload);
    const std::vector<ProtectionStatusRecord>& records = reply->GetProtectionStatusRecords();
    m_logger->Log(1) << "Encryption storage status log raw content: " << reply->GetRawDocument();
    m_logger->Log(0) << "Encryption storage status log metadata received, size: " << records.size();

    const auto log = boost::make_shared<CStatusLog>(LogType);
    if (const ProtectionStatusRecord* record = FindStorageRecord(records)) {
        log->GetRows()
            ->AddNewRow()
            ->AddInt(4672, record->Level.value())
            .AddUuid(4670, m_instance->GetInstanceUUID())
            .AddCurrentTime(4673);
    }
    log->SetReadOnly();
    m_publisher->Publish(log);
    m_logger->Log(0) << "Encryption storage status log deserialized and published";
}

const ProtectionStatusRecord* CGetEncryptionStorageStatusTask::BufferReceiver::FindStorageRecord(
    const std::vector<ProtectionStatusRecord>& records) const {
    if (m_connectorProductId != StorageProductId) {
        return nullptr;
    }
    for (const ProtectionStatusRecord& record : records) {
        if (record.Status == 0 && record.StatusResId == StorageInOrder) {
            return &record;
        }
    }
    return nullptr;
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
