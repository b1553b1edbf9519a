#pragma once

#include "messages/pixlink/CCommandRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Asks for the protection status and the encryption storage status.
class CGetStatusRequest : public CCommandRequest {
public:
    static constexpr uint32_t Command = 33;
    CGetStatusRequest() : CCommandRequest(Command) {}
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
