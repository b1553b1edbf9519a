#include "tasks/CGetStatusTask.h"

#include <boost/make_shared.hpp>

#include "bus/CQUILRequest.h"
#include "logs/CStatusLog.h"
#include "messages/CGetStatusResponse.h"
#include "tasks/CProtectionStatusRow.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

using Zun::Common::Logs::ISymbolContainer;
using Zun::Common::Message::Connectors::QUILConnector::CQUILRequest;
using Zun::Common::Message::Logs::CStatusLog;

namespace {

const uint32_t StatusOk = 0;
const uint32_t StatusWithoutDetails = 0xFFFFFFFF;

}  // namespace

CGetStatusTask::CGetStatusTask(const ChannelPtr& channel, const LoggerPtr& logger, const FactoryPtr& factory,
                               const PublisherPtr& publisher, const InstanceUUIDPtr& instance,
                               uint32_t productCode, int64_t connectorProductId, int32_t messageType)
    : CMessageTask(messageType),
      m_channel(channel),
      m_logger(logger),
      m_factory(factory),
      m_publisher(publisher),
      m_instance(instance),
      m_productCode(productCode),
      m_connectorProductId(connectorProductId) {}

void CGetStatusTask::Execute(const MessagePtr& message) {
    if (QueryRequestKind(GetMessageType(), message) != CQUILRequest::KindStatus) {
        return;
    }
    const ReceiverPtr receiver = boost::make_shared<BufferReceiver>(
        m_logger, m_publisher, m_instance, m_factory, m_productCode, m_connectorProductId);
    ExchangeOrRetry(
        *m_channel, [this] { return m_factory->CreateGetStatusRequest(); }, receiver);
}

CGetStatusTask::BufferReceiver::BufferReceiver(const LoggerPtr& logger, const PublisherPtr& publisher,
                                               const InstanceUUIDPtr& instance, const FactoryPtr& factory,
                                               uint32_t productCode, int64_t connectorProductId)
    : m_logger(logger),
      m_publisher(publisher),
      m_instance(instance),
      m_factory(factory),
      m_productCode(productCode),
      m_connectorProductId(connectorProductId) {}

void CGetStatusTask::BufferReceiver::Receive(const std::vector<uint8_t>& payload) {
    const auto reply = ParseReply<CGetStatusResponse>(m_factory->CreateGetStatusResponse(), payload);
    const std::vector<ProtectionStatusRecord>& records = reply->GetProtectionStatusRecords();
    m_logger->Log(1) << "Protection status log raw content: " << reply->GetRawDocument();
    m_logger->Log(0) << "Protection status log metadata received, size: " << records.size();

    const auto log = boost::make_shared<CStatusLog>(LogType);
    const CProtectionStatusRow rows(m_instance->GetInstanceUUID(), m_productCode, m_connectorProductId);
    for (const ProtectionStatusRecord& record : records) {
        if (record.Status != StatusOk && record.Status != StatusWithoutDetails) {
            AddProblemRow(rows, *log->GetRows()->AddNewRow(), record);
        }
    }
    // The management side expects a row in every status log; no problem is reported as such.
    if (log->GetRows()->GetRowCount() == 0) {
        rows.AddAllClear(*log->GetRows()->AddNewRow());
    }
    log->SetReadOnly();
    m_publisher->Publish(log);
    m_logger->Log(0) << "Protection status log deserialized and published";
}

void CGetStatusTask::BufferReceiver::AddProblemRow(const CProtectionStatusRow& rows, ISymbolContainer& row,
                                                   const ProtectionStatusRecord& record) {
    rows.Add(row, record.Level.value(), record.CategoryResId.value(), record.StatusTextId.value(),
             record.StatusResId.value());
    if (record.DescriptionResId) {
        row.AddResId(4298, *record.DescriptionResId);
    }
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
