#pragma once

#include "messages/pixlink/CCommandRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Asks for the product's configuration document.
class CExportConfigurationRequest : public CCommandRequest {
public:
    static constexpr uint32_t Command = 110;
    CExportConfigurationRequest() : CCommandRequest(Command) {}
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
