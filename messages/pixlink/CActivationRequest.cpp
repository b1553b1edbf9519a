#include "messages/pixlink/CActivationRequest.h"

#include <sstream>

#include "core/CLocalizedException.h"
#include "messages/Base64.h"
#include "messages/pixlink/CommandPayload.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

CActivationRequest::CActivationRequest(boost::shared_ptr<const TaskMessage> task)
    : CTaskXmlRequest(task, "ACTIVATION"), m_activation(std::move(task)) {}

std::string CActivationRequest::BuildDocument() const {
    // Only the activation names the plug-in that has to handle it.
    std::ostringstream requestTag;
    requestTag << "<REQUEST PLUGIN=\"" << std::hex << PluginId << "\" FUNCTION=\"ACTIVATION\">";
    const std::string activation = ActivationNode();
    return Document(requestTag.str(), activation + UserDataNode(), true);
}

std::string CActivationRequest::ActivationNode() const {
    if (m_activation) {
        if (!m_activation->GetLicenseFile().empty()) {
            return Node("LICENSE_FILE", "BINARY", EncodeBase64(m_activation->GetLicenseFile()));
        }
        if (!m_activation->GetManagedActivation().empty()) {
            return Node("MANAGED_ACTIVATION", "STRING", m_activation->GetManagedActivation());
        }
    }
    throw ::Zun::Common::Module::CLocalizedException("CActivationRequest: No activation data was set");
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
