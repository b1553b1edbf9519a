#include "messages/pixlink/CImportConfigurationRequest.h"

#include "messages/pixlink/CommandPayload.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

std::vector<uint8_t> CImportConfigurationRequest::Serialize() {
    std::vector<uint8_t> payload = StartPayload(Command);
    AppendText(payload, m_configuration);
    return payload;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
