#pragma once

#include <string>
#include <vector>

#include "channel/CChannelRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Hands the product a configuration document; the bytes follow the header as they are.
class CImportConfigurationRequest : public CChannelRequest {
public:
    static constexpr uint32_t Command = 109;
    explicit CImportConfigurationRequest(std::string configuration)
        : m_configuration(std::move(configuration)) {}
    std::vector<uint8_t> Serialize() override;

private:
    std::string m_configuration;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
