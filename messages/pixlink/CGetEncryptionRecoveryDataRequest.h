#pragma once

#include "messages/pixlink/CXmlRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Asks for the recovery passwords and recovery data that were not confirmed yet.
class CGetEncryptionRecoveryDataRequest : public CXmlRequest {
protected:
    std::string BuildDocument() const override {
        return Document(RequestTag("GET_ENCRYPTION_RECOVERY_DATA"), std::string(), false);
    }
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
