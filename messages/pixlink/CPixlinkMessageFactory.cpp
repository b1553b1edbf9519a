#include "messages/pixlink/CPixlinkMessageFactory.h"

#include <boost/make_shared.hpp>

#include "messages/pixlink/CActivationRequest.h"
#include "messages/pixlink/CBlockFDEPasswordRequest.h"
#include "messages/pixlink/CConfirmEncryptionRecoveryDataRequest.h"
#include "messages/pixlink/CDisableFDEMaintenanceModeRequest.h"
#include "messages/pixlink/CEnableFDEMaintenanceModeRequest.h"
#include "messages/pixlink/CExportConfigurationRequest.h"
#include "messages/pixlink/CExportConfigurationResponse.h"
#include "messages/pixlink/CGetEncryptionRecoveryDataRequest.h"
#include "messages/pixlink/CGetEncryptionRecoveryDataResponse.h"
#include "messages/pixlink/CGetLicenseRequest.h"
#include "messages/pixlink/CGetLicenseResponse.h"
#include "messages/pixlink/CGetStatusRequest.h"
#include "messages/pixlink/CGetStatusResponse.h"
#include "messages/pixlink/CGetTaskStatusRequest.h"
#include "messages/pixlink/CGetTaskStatusResponse.h"
#include "messages/pixlink/CImportConfigurationRequest.h"
#include "messages/pixlink/CInvalidateFDEPasswordRequest.h"
#include "messages/pixlink/CSendAgentUUIDRequest.h"
#include "messages/pixlink/CWipeFDEPasswordRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

typedef IChannelMessageFactory::MessagePtr MessagePtr;

MessagePtr CPixlinkMessageFactory::CreateExportConfigurationRequest() const {
    return boost::make_shared<CExportConfigurationRequest>();
}

MessagePtr CPixlinkMessageFactory::CreateExportConfigurationResponse() const {
    return boost::make_shared<CExportConfigurationResponse>();
}

MessagePtr CPixlinkMessageFactory::CreateImportConfigurationRequest(const std::string& configuration) const {
    return boost::make_shared<CImportConfigurationRequest>(configuration);
}

MessagePtr CPixlinkMessageFactory::CreateSendAgentUUIDRequest(const std::string& agentId) const {
    return boost::make_shared<CSendAgentUUIDRequest>(agentId);
}

MessagePtr CPixlinkMessageFactory::CreateGetStatusResponse() const {
    return boost::make_shared<CGetStatusResponse>();
}

MessagePtr CPixlinkMessageFactory::CreateGetStatusRequest() const {
    return boost::make_shared<CGetStatusRequest>();
}

MessagePtr CPixlinkMessageFactory::CreateActivationRequest(
    const boost::shared_ptr<const ProductActivation>& task) const {
    return boost::make_shared<CActivationRequest>(task);
}

MessagePtr CPixlinkMessageFactory::CreateGetLicenseRequest() const {
    return boost::make_shared<CGetLicenseRequest>();
}

MessagePtr CPixlinkMessageFactory::CreateGetLicenseResponse() const {
    return boost::make_shared<CGetLicenseResponse>();
}

MessagePtr CPixlinkMessageFactory::CreateGetTaskStatusResponse() const {
    return boost::make_shared<CGetTaskStatusResponse>();
}

MessagePtr CPixlinkMessageFactory::CreateGetTaskStatusRequest() const {
    return boost::make_shared<CGetTaskStatusRequest>();
}

MessagePtr CPixlinkMessageFactory::CreateBlockFDEPasswordRequest(
    const boost::shared_ptr<const BlockFDELogin>& task) const {
    return boost::make_shared<CBlockFDEPasswordRequest>(task);
}

MessagePtr CPixlinkMessageFactory::CreateInvalidateFDEPasswordRequest(
    const boost::shared_ptr<const InvalidateFDELogin>& task) const {
    return boost::make_shared<CInvalidateFDEPasswordRequest>(task);
}

MessagePtr CPixlinkMessageFactory::CreateWipeFDEPasswordRequest(
    const boost::shared_ptr<const WipeFDELogin>& task) const {
    return boost::make_shared<CWipeFDEPasswordRequest>(task);
}

MessagePtr CPixlinkMessageFactory::CreateGetEncryptionRecoveryDataRequest() const {
    return boost::make_shared<CGetEncryptionRecoveryDataRequest>();
}

MessagePtr CPixlinkMessageFactory::CreateGetEncryptionRecoveryDataResponse() const {
    return boost::make_shared<CGetEncryptionRecoveryDataResponse>();
}

MessagePtr CPixlinkMessageFactory::CreateConfirmEncryptionRecoveryDataRequest(
    const RecoveryDataSet& confirmed) const {
    return boost::make_shared<CConfirmEncryptionRecoveryDataRequest>(confirmed);
}

MessagePtr CPixlinkMessageFactory::CreateEnableFDEMaintenanceModeRequest(
    const boost::shared_ptr<const EnableFDEMaintenanceMode>& task) const {
    return boost::make_shared<CEnableFDEMaintenanceModeRequest>(task);
}

MessagePtr CPixlinkMessageFactory::CreateDisableFDEMaintenanceModeRequest(
    const boost::shared_ptr<const DisableFDEMaintenanceMode>& task) const {
    return boost::make_shared<CDisableFDEMaintenanceModeRequest>(task);
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
