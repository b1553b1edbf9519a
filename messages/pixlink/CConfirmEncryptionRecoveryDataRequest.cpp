#include "messages/pixlink/CConfirmEncryptionRecoveryDataRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

std::string CConfirmEncryptionRecoveryDataRequest::BuildDocument() const {
    std::string elements;
    for (const RecoveryPasswordRecord& password : m_confirmed.RecoveryPasswords) {
        elements += "<RECOVERY_PASSWORD UID=\"" + password.Uid + "\" />";
    }
    for (const RecoveryDataRecord& data : m_confirmed.RecoveryData) {
        elements += "<RECOVERY_DATA UID=\"" + data.Uid + "\" />";
    }
    return Document(RequestTag("CONFIRM_ENCRYPTION_RECOVERY_DATA"), elements, false);
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
