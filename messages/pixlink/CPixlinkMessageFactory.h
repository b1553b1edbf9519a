#pragma once

#include "channel/IChannelMessageFactory.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// The product's requests and replies. Stateless, so one instance can serve every thread.
class CPixlinkMessageFactory : public IChannelMessageFactory {
public:
    MessagePtr CreateExportConfigurationRequest() const override;
    MessagePtr CreateExportConfigurationResponse() const override;
    MessagePtr CreateImportConfigurationRequest(const std::string& configuration) const override;
    MessagePtr CreateSendAgentUUIDRequest(const std::string& agentId) const override;
    MessagePtr CreateGetStatusResponse() const override;
    MessagePtr CreateGetStatusRequest() const override;
    MessagePtr CreateActivationRequest(const boost::shared_ptr<const ProductActivation>& task) const override;
    MessagePtr CreateGetLicenseRequest() const override;
    MessagePtr CreateGetLicenseResponse() const override;
    MessagePtr CreateGetTaskStatusResponse() const override;
    MessagePtr CreateGetTaskStatusRequest() const override;
    MessagePtr CreateBlockFDEPasswordRequest(
        const boost::shared_ptr<const BlockFDELogin>& task) const override;
    MessagePtr CreateInvalidateFDEPasswordRequest(
        const boost::shared_ptr<const InvalidateFDELogin>& task) const override;
    MessagePtr CreateWipeFDEPasswordRequest(const boost::shared_ptr<const WipeFDELogin>& task) const override;
    MessagePtr CreateGetEncryptionRecoveryDataRequest() const override;
    MessagePtr CreateGetEncryptionRecoveryDataResponse() const override;
    MessagePtr CreateConfirmEncryptionRecoveryDataRequest(const RecoveryDataSet& confirmed) const override;
    MessagePtr CreateEnableFDEMaintenanceModeRequest(
        const boost::shared_ptr<const EnableFDEMaintenanceMode>& task) const override;
    MessagePtr CreateDisableFDEMaintenanceModeRequest(
        const boost::shared_ptr<const DisableFDEMaintenanceMode>& task) const override;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
