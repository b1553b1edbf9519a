#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "channel/IChannelMessage.h"
#include "channel/RecoveryDataSet.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace Product {
namespace Task {
class CProductActivation;
}  // namespace Task
}  // namespace Product
namespace QUILConnector {
class CBlockFDELogin;
class CInvalidateFDELogin;
class CWipeFDELogin;
namespace Task {
class CEnableFDEMaintenanceMode;
class CDisableFDEMaintenanceMode;
}  // namespace Task
}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common

namespace Connectors {
namespace Common {

// Creates every request and reply of the product protocol. Requests that carry an agent task keep
// the task message alive; replies come out empty, ready for Deserialize.
class IChannelMessageFactory {
public:
    typedef boost::shared_ptr<IChannelMessage> MessagePtr;
    typedef ::Zun::Common::Message::Connectors::Product::Task::CProductActivation ProductActivation;
    typedef ::Zun::Common::Message::Connectors::QUILConnector::CBlockFDELogin BlockFDELogin;
    typedef ::Zun::Common::Message::Connectors::QUILConnector::CInvalidateFDELogin InvalidateFDELogin;
    typedef ::Zun::Common::Message::Connectors::QUILConnector::CWipeFDELogin WipeFDELogin;
    typedef ::Zun::Common::Message::Connectors::QUILConnector::Task::CEnableFDEMaintenanceMode
        EnableFDEMaintenanceMode;
    typedef ::Zun::Common::Message::Connectors::QUILConnector::Task::CDisableFDEMaintenanceMode
        DisableFDEMaintenanceMode;

    virtual ~IChannelMessageFactory() = default;

    virtual MessagePtr CreateExportConfigurationRequest() const = 0;
    virtual MessagePtr CreateExportConfigurationResponse() const = 0;
    virtual MessagePtr CreateImportConfigurationRequest(const std::string& configuration) const = 0;
    virtual MessagePtr CreateSendAgentUUIDRequest(const std::string& agentId) const = 0;
    virtual MessagePtr CreateGetStatusResponse() const = 0;
    virtual MessagePtr CreateGetStatusRequest() const = 0;
    virtual MessagePtr CreateActivationRequest(
        const boost::shared_ptr<const ProductActivation>& task) const = 0;
    virtual MessagePtr CreateGetLicenseRequest() const = 0;
    virtual MessagePtr CreateGetLicenseResponse() const = 0;
    virtual MessagePtr CreateGetTaskStatusResponse() const = 0;
    virtual MessagePtr CreateGetTaskStatusRequest() const = 0;
    virtual MessagePtr CreateBlockFDEPasswordRequest(
        const boost::shared_ptr<const BlockFDELogin>& task) const = 0;
    virtual MessagePtr CreateInvalidateFDEPasswordRequest(
        const boost::shared_ptr<const InvalidateFDELogin>& task) const = 0;
    virtual MessagePtr CreateWipeFDEPasswordRequest(
        const boost::shared_ptr<const WipeFDELogin>& task) const = 0;
    virtual MessagePtr CreateGetEncryptionRecoveryDataRequest() const = 0;
    virtual MessagePtr CreateGetEncryptionRecoveryDataResponse() const = 0;
    virtual MessagePtr CreateConfirmEncryptionRecoveryDataRequest(const RecoveryDataSet& confirmed) const = 0;
    virtual MessagePtr CreateEnableFDEMaintenanceModeRequest(
        const boost::shared_ptr<const EnableFDEMaintenanceMode>& task) const = 0;
    virtual MessagePtr CreateDisableFDEMaintenanceModeRequest(
        const boost::shared_ptr<const DisableFDEMaintenanceMode>& task) const = 0;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
