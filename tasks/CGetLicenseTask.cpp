#include "tasks/CGetLicenseTask.h"

#include <boost/make_shared.hpp>

#include "bus/CQUILRequest.h"
#include "logs/CMultiProductStatusLog.h"
#include "logs/CSymbolContainer.h"
#include "messages/CGetLicenseResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

using Zun::Common::Logs::CSymbolContainer;
using Zun::Common::Logs::ISymbolContainer;
using Zun::Common::Message::Connectors::QUILConnector::CQUILRequest;
using Zun::Common::Message::Logs::CMultiProductStatusLog;

CGetLicenseTask::CGetLicenseTask(const ChannelPtr& channel, const LoggerPtr& logger,
                                 const FactoryPtr& factory, const PublisherPtr& publisher,
                                 const InstanceUUIDPtr& instance, uint32_t productCode, int32_t messageType)
    : CMessageTask(messageType),
      m_channel(channel),
      m_logger(logger),
      m_factory(factory),
      m_publisher(publisher),
      m_instance(instance),
      m_productCode(productCode) {}

void CGetLicenseTask::Execute(const MessagePtr& message) {
    if (QueryRequestKind(GetMessageType(), message) != CQUILRequest::KindLicense) {
        return;
    }
    const ReceiverPtr receiver =
        boost::make_shared<BufferReceiver>(m_logger, m_publisher, m_instance, m_factory, m_productCode);
    ExchangeOrRetry(
        *m_channel, [this] { return m_factory->CreateGetLicenseRequest(); }, receiver);
}

CGetLicenseTask::BufferReceiver::BufferReceiver(const LoggerPtr& logger, const PublisherPtr& publisher,
                                                const InstanceUUIDPtr& instance, const FactoryPtr& factory,
                                                uint32_t productCode)
    : m_logger(logger),
      m_publisher(publisher),
      m_instance(instance),
      m_factory(factory),
      m_productCode(productCode) {}

void CGetLicenseTask::BufferReceiver::Receive(const std::vector<uint8_t>& payload) {
    const auto reply = ParseReply<CGetLicenseResponse>(m_factory->CreateGetLicenseResponse(), payload);
    const std::vector<LicenseRecord>& licenses = reply->GetLicenseRecords();
    m_logger->Log(1) << "License log raw content: " << reply->GetRawDocument();
    m_logger->Log(0) << "License log metadata received, size: " << licenses.size();

    const boost::shared_ptr<ISymbolContainer> product = boost::make_shared<CSymbolContainer>();
    product->AddInt(2750, m_productCode);
    const auto log = boost::make_shared<CMultiProductStatusLog>(LogType, product);
    for (const LicenseRecord& license : licenses) {
        AddLicenseRow(*log->GetRows()->AddNewRow(), license);
    }
    // Published without rows too: an empty log tells the management side there is no licence.
    log->SetReadOnly();
    m_publisher->Publish(log);
    m_logger->Log(0) << "License log deserialized and published";
}

void CGetLicenseTask::BufferReceiver::AddLicenseRow(ISymbolContainer& row, const LicenseRecord& license) {
    row.AddInt32(2689, 1).AddUuid(2687, m_instance->GetInstanceUUID()).AddCurrentTime(2690);
    row.AddInt(2750, m_productCode)
        .AddString(2692, license.AssociatedSeatId)
        .AddString(2693, license.LicensePublicId)
        .AddString(2696, license.LicenseProductName)
        .AddBool(2700, license.ActivatedBy);
    AddOptionalFields(row, license);
}

void CGetLicenseTask::BufferReceiver::AddOptionalFields(ISymbolContainer& row, const LicenseRecord& license) {
    if (license.LicenseExpirationDate) {
        row.AddTimeDate(2698, *license.LicenseExpirationDate);
    }
    if (license.ProductCode) {
        row.AddInt(4304, *license.ProductCode);
    }
    if (license.SeatName) {
        row.AddString(4305, *license.SeatName);
    }
    if (license.LicenseRenewalPeriod) {
        row.AddInt(4306, *license.LicenseRenewalPeriod);
    }
    if (license.LicenseType) {
        row.AddString(4307, *license.LicenseType);
    }
    if (license.LicenseFlags) {
        row.AddInt(4308, *license.LicenseFlags);
    }
    if (license.LicenseModelType) {
        row.AddString(4309, *license.LicenseModelType);
    }
    if (license.LicenseModelStatus) {
        row.AddString(4310, *license.LicenseModelStatus);
    }
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
