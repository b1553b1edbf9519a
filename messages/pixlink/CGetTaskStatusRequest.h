#pragma once

#include "messages/pixlink/CCommandRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Asks for the next task result the product has not reported yet.
class CGetTaskStatusRequest : public CCommandRequest {
public:
    static constexpr uint32_t Command = 112;
    CGetTaskStatusRequest() : CCommandRequest(Command) {}
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
