#include "tasks/CGetTaskStatusTask.h"

#include <boost/make_shared.hpp>
#include <boost/thread/thread.hpp>

#include "bus/CQUILRequest.h"
#include "logs/CTaskResultEvent.h"
#include "messages/CGetTaskStatusResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

using Zun::Common::Message::Connectors::QUILConnector::CQUILRequest;

CGetTaskStatusTask::CGetTaskStatusTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                       const FactoryPtr& factory, const PublisherPtr& publisher,
                                       const InstanceUUIDPtr& instance, int64_t connectorProductId,
                                       int32_t messageType)
    : CMessageTask(messageType),
      m_channel(channel),
      m_logger(logger),
      m_factory(factory),
      m_publisher(publisher),
      m_instance(instance),
      m_connectorProductId(connectorProductId) {}

void CGetTaskStatusTask::Execute(const MessagePtr& message) {
    if (QueryRequestKind(GetMessageType(), message) != CQUILRequest::KindTaskStatus) {
        return;
    }
    // A loop rather than asking again from inside the receiver: a product with a long queue of
    // results then costs no stack, and each receiver outlives its own Receive call.
    while (FetchOneResult()) {
        boost::this_thread::interruption_point();
    }
}

bool CGetTaskStatusTask::FetchOneResult() {
    const auto receiver = boost::make_shared<BufferReceiver>(m_logger, m_publisher, m_instance, m_factory,
                                                             m_connectorProductId);
    ExchangeOrRetry(
        *m_channel, [this] { return m_factory->CreateGetTaskStatusRequest(); }, receiver);
    return receiver->HasReceivedResult();
}

CGetTaskStatusTask::BufferReceiver::BufferReceiver(const LoggerPtr& logger, const PublisherPtr& publisher,
                                                   const InstanceUUIDPtr& instance, const FactoryPtr& factory,
                                                   int64_t connectorProductId)
    : m_logger(logger),
      m_publisher(publisher),
      m_instance(instance),
      m_factory(factory),
      m_connectorProductId(connectorProductId) {}

void CGetTaskStatusTask::BufferReceiver::Receive(const std::vector<uint8_t>& payload) {
    const auto reply = ParseReply<CGetTaskStatusResponse>(m_factory->CreateGetTaskStatusResponse(), payload);
    for (const TaskLogRecord& record : reply->GetTaskLogRecords()) {
        CTaskResultEvent::Content content;
        content.connectorProductId = m_connectorProductId;
        content.instanceUUID = m_instance->GetInstanceUUID();
        content.first = record.FirstId;
        content.second = record.SecondId;
        content.third = record.ThirdId;
        content.code = record.Code;
        content.text = record.Message;
        content.state = record.State;
        content.severity = static_cast<int32_t>(record.Severity);
        m_publisher->Publish(CTaskResultEvent::Build(content));
        m_logger->Log(0) << "Task status received";
        m_receivedResult = true;
    }
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
