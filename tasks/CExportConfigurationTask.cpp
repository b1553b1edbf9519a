#include "tasks/CExportConfigurationTask.h"

#include <algorithm>
#include <boost/make_shared.hpp>

#include "logs/CTaskResultEvent.h"
#include "logs/CEventLog.h"
#include "messages/CExportConfigurationResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

using Zun::Common::Message::Configuration::CRequestConfigurationMessage;
using Zun::Common::Message::Logs::CEventLog;

namespace {

const int64_t TaskDoneCode = 0x10000000BLL;
const int64_t TaskDoneState = 30;
const int32_t TaskDoneSeverity = 1;

}  // namespace

CExportConfigurationTask::CExportConfigurationTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                                   const FactoryPtr& factory, const PublisherPtr& publisher,
                                                   const InstanceUUIDPtr& instance,
                                                   const std::vector<uint32_t>& productTypes,
                                                   int64_t connectorProductId)
    : CMessageTask(CRequestConfigurationMessage::Type),
      m_channel(channel),
      m_logger(logger),
      m_publisher(publisher),
      m_instance(instance),
      m_productTypes(productTypes),
      m_factory(factory),
      m_connectorProductId(connectorProductId) {}

void CExportConfigurationTask::Execute(const MessagePtr& message) {
    const RequestPtr request = boost::dynamic_pointer_cast<const CRequestConfigurationMessage>(message);
    if (!request || !IsAcceptedProductType(request)) {
        return;
    }
    const ReceiverPtr receiver =
        boost::make_shared<BufferReceiver>(request, m_publisher, m_instance, m_factory, m_connectorProductId);
    ExchangeOrRetry(
        *m_channel, [this] { return m_factory->CreateExportConfigurationRequest(); }, receiver);
}

bool CExportConfigurationTask::IsAcceptedProductType(const RequestPtr& request) const {
    const auto& wanted = request->GetRequestConfiguration();
    return wanted.has_producttype() && std::find(m_productTypes.begin(), m_productTypes.end(),
                                                 wanted.producttype()) != m_productTypes.end();
}

CExportConfigurationTask::BufferReceiver::BufferReceiver(const RequestPtr& request,
                                                         const PublisherPtr& publisher,
                                                         const InstanceUUIDPtr& instance,
                                                         const FactoryPtr& factory,
                                                         int64_t connectorProductId)
    : m_request(request),
      m_publisher(publisher),
      m_instance(instance),
      m_factory(factory),
      m_connectorProductId(connectorProductId) {}

void CExportConfigurationTask::BufferReceiver::Receive(const std::vector<uint8_t>& payload) {
    const auto reply =
        ParseReply<CExportConfigurationResponse>(m_factory->CreateExportConfigurationResponse(), payload);
    PublishConfiguration(reply->GetConfiguration());
    // The done event names the request by its task identifiers; a request without them has no
    // task on the server to report to, and failing here would only publish the configuration again.
    if (m_request->HasTaskIdentifiers()) {
        PublishDone();
    }
}

void CExportConfigurationTask::BufferReceiver::PublishConfiguration(const std::string& configuration) {
    const auto log = boost::make_shared<CEventLog>(LogType);
    log->GetContainer()
        ->AddInt32(1888, 1)
        .AddUuid(1886, m_instance->GetInstanceUUID())
        .AddCurrentTime(1889)
        .AddResId(1891, m_connectorProductId)
        .AddBlob(1892, configuration);
    log->SetReadOnly();
    m_publisher->Publish(log);
}

void CExportConfigurationTask::BufferReceiver::PublishDone() {
    CTaskResultEvent::Content content;
    content.connectorProductId = m_connectorProductId;
    content.instanceUUID = m_instance->GetInstanceUUID();
    content.first = m_request->GetFirstId();
    content.second = m_request->GetSecondId();
    content.third = m_request->GetThirdId();
    content.code = TaskDoneCode;
    content.state = TaskDoneState;
    content.severity = TaskDoneSeverity;
    m_publisher->Publish(CTaskResultEvent::Build(content));
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
