#pragma once

#include "channel/RecoveryDataSet.h"
#include "messages/pixlink/CXmlRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Tells the product which recovery passwords and recovery data reached the management server. Only
// the UIDs go back; the secrets themselves never leave in this direction.
class CConfirmEncryptionRecoveryDataRequest : public CXmlRequest {
public:
    explicit CConfirmEncryptionRecoveryDataRequest(RecoveryDataSet confirmed)
        : m_confirmed(std::move(confirmed)) {}

protected:
    std::string BuildDocument() const override;

private:
    RecoveryDataSet m_confirmed;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
