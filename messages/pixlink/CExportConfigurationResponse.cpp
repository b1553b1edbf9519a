#include "messages/pixlink/CExportConfigurationResponse.h"

#include "messages/pixlink/ReplyDocument.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

void CExportConfigurationResponse::Deserialize(const std::vector<uint8_t>& payload) {
    m_configuration = ReadReplyBody(payload);
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
