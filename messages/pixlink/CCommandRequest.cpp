#include "messages/pixlink/CCommandRequest.h"

#include "messages/pixlink/CommandPayload.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

std::vector<uint8_t> CCommandRequest::Serialize() {
    return StartPayload(m_command);
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
