#pragma once

#include "messages/pixlink/CCommandRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Asks for the licence document.
class CGetLicenseRequest : public CCommandRequest {
public:
    static constexpr uint32_t Command = 138;
    CGetLicenseRequest() : CCommandRequest(Command) {}
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
