#pragma once

#include "host/CProductActivation.h"
#include "messages/pixlink/CTaskXmlRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Activates the product with a licence file or, without one, a managed-activation text.
class CActivationRequest : public CTaskXmlRequest {
public:
    typedef ::Zun::Common::Message::Connectors::Product::Task::CProductActivation TaskMessage;

    explicit CActivationRequest(boost::shared_ptr<const TaskMessage> task);

protected:
    // Throws CLocalizedException when there is neither a licence file nor a managed-activation text.
    std::string BuildDocument() const override;

private:
    std::string ActivationNode() const;

    boost::shared_ptr<const TaskMessage> m_activation;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
